# The installed layout, which stands for the application bundle: the programs in bin/ (the tray
# application starts brisel_core from its own folder), the launcher in libexec/brisel/ (it finds the
# application at ../../bin from there), the application-menu entry and icon, the udev rule, the manual
# pages and the package's changelog and copyright file.
#
# `cpack -G DEB` in a build folder makes two Debian packages of it: velko-brisel (the component
# "programs": everything above, the programs stripped) and velko-brisel-dbgsym (the component "debug":
# the programs' debugging information under lib/debug/.build-id/, where the crash reporter looks for
# it). A plain `cmake --install` installs the programs whole and no debugging information.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)
set(BRISEL_PACKAGE_NAME velko-brisel)

install(TARGETS brisel_core RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-brisel-boards.rules DESTINATION lib/udev/rules.d)
set(brisel_programs "$<TARGET_FILE:brisel_core>")
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
  list(APPEND brisel_programs "$<TARGET_FILE:velko_brisel>" "$<TARGET_FILE:BriselLaunchHelper>")
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

# The debugging information, taken from the programs as built (cmake/DebugInformation.cmake).
install(CODE "
  set(brisel_programs \"${brisel_programs}\")
  set(brisel_objcopy \"${CMAKE_OBJCOPY}\")
  set(brisel_readelf \"${CMAKE_READELF}\")
  set(brisel_debug_folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id\")
  set(brisel_documents_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/doc/${BRISEL_PACKAGE_NAME}-dbgsym\")
  set(brisel_documents_target ${BRISEL_PACKAGE_NAME})
  include(\"${PROJECT_SOURCE_DIR}/cmake/DebugInformation.cmake\")"
  COMPONENT debug EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME ${BRISEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Velko)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs debug)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brisel developers <dev@brisel.invalid>")

# The first line of a package's description is its summary. CPack indents each further line by one
# blank (a line that begins with a blank is then shown as it is), marks empty lines with " ." and
# strips the last line, which must therefore be plain text.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/description)
file(READ ${PROJECT_SOURCE_DIR}/packaging/description description)
string(REGEX REPLACE "\n+$" "" description "${description}")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${BRISEL_PACKAGE_NAME})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "Desktop companion of the Brisel cloud service for sensor boards\n${description}")

set(CPACK_DEBIAN_DEBUG_PACKAGE_NAME ${BRISEL_PACKAGE_NAME}-dbgsym)
set(CPACK_DEBIAN_DEBUG_PACKAGE_SECTION debug)
set(CPACK_DEBIAN_DEBUG_PACKAGE_DEPENDS "${BRISEL_PACKAGE_NAME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEBUG_DESCRIPTION "debug symbols for ${BRISEL_PACKAGE_NAME}
The debugging information of brisel_core, Velko Brisel and BriselLaunchHelper,
by build ID under /usr/lib/debug/.build-id/, where debuggers find it. With it
installed, the crash reports of Velko Brisel name the frames of the
application's own code and their source lines.")
include(CPack)
