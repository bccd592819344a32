# Debian packages, built by `make package` (CPack, one package per install component):
#   formsmaint         the desktop, its menu entry and icon            (component desktop)
#   formsmaint-server  the central server as a hardened systemd service (component server)
# Dependencies on shared libraries come from dpkg-shlibdeps (package dpkg-dev). The files of
# the packages are in packaging/; docs/deployment.md describes the installed service.

set(FM_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${FM_PACKAGING_DIR}/server/formsmaint-server.service
        DESTINATION lib/systemd/system COMPONENT server)
# An absolute destination: configuration lives in /etc whatever the install prefix.
install(FILES ${FM_PACKAGING_DIR}/server/server.conf
        DESTINATION /etc/formsmaint COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deployment.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
        DESTINATION share/doc/formsmaint-server COMPONENT server)

if(FM_BUILD_DESKTOP)
  install(FILES ${FM_PACKAGING_DIR}/desktop/formsmaint.desktop
          DESTINATION share/applications COMPONENT desktop)
  install(FILES ${FM_PACKAGING_DIR}/desktop/formsmaint.svg
          DESTINATION share/icons/hicolor/scalable/apps COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/desktop.md ${PROJECT_SOURCE_DIR}/docs/settings.md
          DESTINATION share/doc/formsmaint COMPONENT desktop)
  set(CPACK_COMPONENTS_ALL desktop server)
else()
  set(CPACK_COMPONENTS_ALL server)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME formsmaint)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Forms maintenance developers <formsmaint@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME formsmaint)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
    "Forms maintenance desktop
The forms-inventory screen of an enforcement agency: ranges of serially numbered forms \
received by a Troop/District, assigned to troopers, voided, delisted and moved. It works \
on an embedded inventory of its own or against formsmaint-server.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME formsmaint-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# adduser for the service's system user, procps for the /bin/kill of its reload;
# shlibdeps appends the libraries.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, procps")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "postgresql")
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "Forms maintenance central server
Keeps the inventory of form ranges (SQLite, or PostgreSQL shared by several servers) and \
answers the forms-maintenance desktops over HTTP/JSON. Runs as the hardened systemd \
service formsmaint-server, configured in /etc/formsmaint.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${FM_PACKAGING_DIR}/server/conffiles;${FM_PACKAGING_DIR}/server/postinst;${FM_PACKAGING_DIR}/server/prerm;${FM_PACKAGING_DIR}/server/postrm")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
