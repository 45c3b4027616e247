# The installed layout, which stands for the application bundle: the programs in bin/ (the tray
# application starts brisel_core from its own folder), the launcher in libexec/brisel/ (it finds the
# application at ../../bin from there), the application-menu entry and icon, and the udev rule.
# `cpack -G DEB` in a build folder makes a Debian package of it.
install(TARGETS brisel_core RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-brisel-boards.rules DESTINATION lib/udev/rules.d)
if(TARGET velko_brisel)
  install(TARGETS velko_brisel RUNTIME DESTINATION bin)
  install(TARGETS BriselLaunchHelper RUNTIME DESTINATION libexec/brisel)
  # The entry names the application by its absolute path, which has a blank.
  install(CODE "
    set(BRISEL_INSTALLED_APPLICATION \"\${CMAKE_INSTALL_PREFIX}/bin/Velko Brisel\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/velko-brisel.desktop.in\"
                   \"${PROJECT_BINARY_DIR}/velko-brisel.desktop\" @ONLY)")
  install(FILES ${PROJECT_BINARY_DIR}/velko-brisel.desktop DESTINATION share/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/velko-brisel.svg DESTINATION share/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME velko-brisel)
set(CPACK_PACKAGE_VENDOR Velko)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion of the Brisel cloud service for sensor boards")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velko Brisel team")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
