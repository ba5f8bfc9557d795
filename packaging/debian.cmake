# Debian packages, one per install component, built by `./dev.sh package`
# (cpack -G DEB in a build configured with CMAKE_INSTALL_PREFIX=/usr):
#   libtarsel5      runtime: both libraries, the udev rule
#   libtarsel-dev   dev: headers, CMake package, pkg-config file
#   tarsel-tools    tools: tarsel, tarsel-sim-usb, the simulator's link library
#   python3-tarsel  python: the Python package, when it is built
#   tarsel-doc      doc: the HTML API reference, when TARSEL_INSTALL_DOCS is on
# Each package carries /usr/share/doc/<package>/copyright and
# changelog.Debian.gz. Depends: the libraries each binary links, found by
# dpkg-shlibdeps, plus the packages named below.
set(TARSEL_DEB_RELEASE 1)
set(TARSEL_DEB_VERSION "${PROJECT_VERSION}-${TARSEL_DEB_RELEASE}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarsel)
set(CPACK_PACKAGE_VENDOR "Tarsel")
set(CPACK_PACKAGE_CONTACT
  "Tarsel maintainers <maintainers@users.noreply.c-seed-34ce40f7.example>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TARSEL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools and the Python extension link the API library, which no package
# on the build machine provides: dpkg-shlibdeps finds it in the build tree,
# and the Depends below name its package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}/lib")

set(tarsel_runtime "libtarsel5 (= ${TARSEL_DEB_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarsel5)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "host API of the Tarsel robotic arm (libraries)
The programming interface of the Tarsel arm, a six-axis robotic arm with a
three- or two-finger hand attached over USB: Tarsel.API.ArmControlUbuntu.so
with the flat C-callable functions and the C++ interface, and
Tarsel.API.CommLayerUbuntu.so, the USB link over libusb that it loads at run
time. The udev rule opens the arm to the user at the seat and to the plugdev
group.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtarsel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${tarsel_runtime}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "host API of the Tarsel robotic arm (development files)
Headers of the flat API (C++11) and of the C++ interface tarsel/arm.hpp
(C++17), the CMake package (find_package(Tarsel), target Tarsel::ArmControl)
and the pkg-config file tarsel-arm-control.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tarsel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# tarsel-sim-usb runs programs under umockdev's preload library.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${tarsel_runtime}, umockdev")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line tool and simulated arm for the Tarsel robotic arm
tarsel looks at the arm's state, moves it, initialises the hand, reads the
error log, saves and restores its stored blocks and programs its firmware;
tarsel doctor explains why no arm is reachable. The simulated arm's link
library lets every command run without an arm (tarsel --sim), and
tarsel-sim-usb runs any program with simulated arms on a virtual USB bus.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tarsel)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${tarsel_runtime}, python3 (>= 3.11), python3 (<< 3.12)")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python interface to the Tarsel robotic arm
The tarsel package: one method per function of the arm's API, records as
classes and result codes as tarsel.Error, over the C++ interface.")

set(CPACK_DEBIAN_DOC_PACKAGE_NAME tarsel-doc)
set(CPACK_DEBIAN_DOC_PACKAGE_SECTION doc)
set(CPACK_DEBIAN_DOC_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DOC_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DOC_DESCRIPTION "API reference of the Tarsel robotic arm's host API
The HTML reference of the flat functions, the records and their result codes,
the C++ interface tarsel::Arm and the Python module tarsel, in
/usr/share/doc/tarsel-doc/html (start with index.html).")

# The packages: python and doc only when their parts install something.
get_cmake_property(tarsel_components COMPONENTS)
set(CPACK_COMPONENTS_ALL runtime dev tools)
foreach(optional python doc)
  if(optional IN_LIST tarsel_components)
    list(APPEND CPACK_COMPONENTS_ALL ${optional})
  endif()
endforeach()

# copyright and changelog.Debian.gz of every package.
string(TIMESTAMP TARSEL_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog.in
  ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian @ONLY)
find_program(TARSEL_GZIP gzip REQUIRED)
execute_process(COMMAND ${TARSEL_GZIP} -9nc
  INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian
  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright
                ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component})
endforeach()

include(CPack)
