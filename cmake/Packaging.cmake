# Installation layout and the Debian package. Only the program, its desktop files and its docs
# are installed: the simulated bus, the tests and the benchmark program stay in the build tree.

include(GNUInstallDirs)

install(TARGETS ktqconfig RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The desktop entry's name matches QGuiApplication::desktopFileName() ("ktqconfig"), so that
# desktops match the running window to its entry and icon.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ktqconfig.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ktqconfig.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/io.github.ktqconfig.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The README and docs/ keep their layout, so that the links between them hold where they are
# installed: share/doc/ktqconfig on Linux (/usr/share/doc/ktqconfig from the package), the
# program's own folder on Windows. The advice names that place (documentationFolder in
# src/run/advice.cpp); scripts/build-windows gathers the "docs" component for the installer.
if(WIN32)
  set(KTQ_DOC_DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  set(KTQ_DOC_DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES README.md CONTRIBUTING.md LICENSE DESTINATION ${KTQ_DOC_DESTINATION} COMPONENT docs)
install(DIRECTORY docs/ DESTINATION ${KTQ_DOC_DESTINATION}/docs COMPONENT docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

option(KTQ_BUILD_BENCH "Build the minimal Qt program that scripts/bench compares the program with" ON)
if(KTQ_BUILD_BENCH)
  add_subdirectory(${PROJECT_SOURCE_DIR}/bench ${PROJECT_BINARY_DIR}/bench)
endif()

set(KTQ_PACKAGE_MAINTAINER "ktqconfig maintainers <maintainers@ktqconfig.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME ktqconfig)
set(CPACK_PACKAGE_VENDOR "ktqconfig")
set(CPACK_PACKAGE_CONTACT "${KTQ_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up KTQ GPIB bus interface units")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop tool that sets up the KTQ family of GPIB bus interface units (parallel, serial,
printer, Modbus and analog/digital I/O units, 28 models) over an NI-488.2 compatible driver:
linux-gpib's libgpib.so.0 or NI-488.2 for Linux, loaded at run time. The operator picks a
model; the program finds the unit on the bus, walks through its settings one by one, checks
each new value through the unit's event status register and stores the settings in the unit.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KTQ_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt and the C++ run-time come from dpkg-shlibdeps. The GPIB library is opened at run time and
# is not a Debian package, so it is no dependency; the logo's font is only recommended.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")

include(CPack)
