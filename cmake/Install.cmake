# The installed layout, which stands for the application bundle: the programs in bin/ (the tray
# application starts brisel_core from its own folder), the launcher in libexec/brisel/ (it finds the
# application at ../../bin from there), the application-menu entry and icon, the udev rule, the manual
# pages and the package's changelog and copyright file.
# `cpack -G DEB` in a build folder makes a Debian package of it.
set(BRISEL_PACKAGE_NAME velko-brisel)

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

# The changelog's latest entry names the version that the package gets.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${BRISEL_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins '${changelog_head}': its latest entry must be "
                      "'${BRISEL_PACKAGE_NAME} (${PROJECT_VERSION}) ...', the version in CMakeLists.txt")
endif()

# Documents as Debian installs them: gzip at its best, with neither file name nor time in the header.
# Manual pages (name.1) get the project's version; other documents are copied as they are.
set(brisel_documents ${PROJECT_BINARY_DIR}/documents)
set(brisel_compressed_documents "")
function(brisel_compressed_document source name)
  if(name MATCHES "\\.[1-8]$")
    configure_file(${source} ${brisel_documents}/${name} @ONLY)
  else()
    configure_file(${source} ${brisel_documents}/${name} COPYONLY)
  endif()
  add_custom_command(OUTPUT ${brisel_documents}/${name}.gz
    COMMAND gzip -9nkf ${brisel_documents}/${name}
    DEPENDS ${brisel_documents}/${name} VERBATIM)
  list(APPEND brisel_compressed_documents ${brisel_documents}/${name}.gz)
  set(brisel_compressed_documents ${brisel_compressed_documents} PARENT_SCOPE)
endfunction()
brisel_compressed_document(${PROJECT_SOURCE_DIR}/docs/man/brisel_core.1.in brisel_core.1)
brisel_compressed_document(${PROJECT_SOURCE_DIR}/packaging/changelog changelog)
if(TARGET velko_brisel)
  brisel_compressed_document(${PROJECT_SOURCE_DIR}/docs/man/velko-brisel.1.in velko-brisel.1)
endif()
add_custom_target(brisel_documents ALL DEPENDS ${brisel_compressed_documents})

install(FILES ${brisel_documents}/brisel_core.1.gz DESTINATION share/man/man1)
if(TARGET velko_brisel)
  install(FILES ${brisel_documents}/velko-brisel.1.gz DESTINATION share/man/man1 RENAME "Velko Brisel.1.gz")
endif()
install(FILES ${brisel_documents}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION share/doc/${BRISEL_PACKAGE_NAME})

set(CPACK_PACKAGE_NAME ${BRISEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Velko)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion of the Brisel cloud service for sensor boards")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brisel developers <dev@brisel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
