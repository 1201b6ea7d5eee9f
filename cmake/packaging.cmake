# Installation and the Debian packages (make package, through CPack):
#   tamberly             the desktop program and tamberly-check, with the desktop file, AppStream metainfo, icons
#                        and manual pages;
#   tamberly-listserver  the list server and its systemd service, so that desktop users never pull in Boost or the
#                        PostgreSQL client.
# Each file belongs to the install component of its package (tamberly, listserver).
if(WIN32)
    return()
endif()
include(GNUInstallDirs)

set(TAMBERLY_APP_ID org.tamberly.Tamberly)
# Debian 12 keeps packaged units under /lib (the /usr merge moved nothing there yet).
set(TAMBERLY_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the list server's systemd unit is installed")

set(res ${PROJECT_SOURCE_DIR}/resources)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(gen ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${gen})

# Manual pages and changelogs go in compressed, without gzip's time stamp, so that the packages build the same twice.
set(compressed)
function(tamberly_gzip source name)
    add_custom_command(OUTPUT ${gen}/${name}.gz
                       COMMAND sh -c "gzip -9nc \"$1\" >\"$2.tmp\" && mv \"$2.tmp\" \"$2\""
                               gzip ${source} ${gen}/${name}.gz
                       DEPENDS ${source} VERBATIM)
    set(compressed ${compressed} ${gen}/${name}.gz PARENT_SCOPE)
endfunction()

# Each package's doc folder: the copyright file, the changelog and the README that applies to it.
function(tamberly_package_docs component package readme)
    set(doc ${CMAKE_INSTALL_DATADIR}/doc/${package})
    install(FILES ${pkg}/debian/copyright ${gen}/changelog.gz DESTINATION ${doc} COMPONENT ${component})
    install(FILES ${readme} DESTINATION ${doc} RENAME README.md COMPONENT ${component})
endfunction()

tamberly_gzip(${pkg}/debian/changelog changelog)
set(components)

if(TARGET tamberly OR TARGET tamberly-check)
    list(APPEND components tamberly)
    tamberly_package_docs(tamberly tamberly ${PROJECT_SOURCE_DIR}/README.md)
endif()
if(TARGET tamberly)
    install(TARGETS tamberly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tamberly)
    install(FILES ${res}/${TAMBERLY_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
            COMPONENT tamberly)
    install(FILES ${res}/${TAMBERLY_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
            COMPONENT tamberly)
    foreach(size IN ITEMS 16 24 32 48 64 128 256 scalable)
        if(size STREQUAL scalable)
            set(dir scalable/apps)
            set(ext svg)
        else()
            set(dir ${size}x${size}/apps)
            set(ext png)
        endif()
        install(FILES ${res}/icons/hicolor/${dir}/${TAMBERLY_APP_ID}.${ext}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${dir} COMPONENT tamberly)
    endforeach()
    tamberly_gzip(${PROJECT_SOURCE_DIR}/man/tamberly.1 tamberly.1)
    install(FILES ${gen}/tamberly.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tamberly)
endif()
if(TARGET tamberly-check)
    install(TARGETS tamberly-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tamberly)
    tamberly_gzip(${PROJECT_SOURCE_DIR}/man/tamberly-check.1 tamberly-check.1)
    install(FILES ${gen}/tamberly-check.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tamberly)
endif()
if(TARGET tamberly-listserver)
    list(APPEND components listserver)
    install(TARGETS tamberly-listserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT listserver)
    install(FILES ${pkg}/tamberly-listserver.service DESTINATION ${TAMBERLY_SYSTEMD_UNIT_DIR} COMPONENT listserver)
    install(FILES ${pkg}/tamberly-listserver.default DESTINATION /etc/default RENAME tamberly-listserver
            COMPONENT listserver)
    tamberly_gzip(${PROJECT_SOURCE_DIR}/man/tamberly-listserver.8 tamberly-listserver.8)
    install(FILES ${gen}/tamberly-listserver.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT listserver)
    tamberly_package_docs(listserver tamberly-listserver ${PROJECT_SOURCE_DIR}/server/README.md)
endif()
if(NOT components)
    return()
endif()
# Part of every build, so that an install or cpack always finds them; gzip takes no time.
add_custom_target(tamberly_compressed_docs ALL DEPENDS ${compressed})
# cpack and install take the build as it is instead of building everything first: the package test packs the
# test build's own programs while other tests run. make package builds before it packs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamberly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tamberly developers")
set(CPACK_PACKAGE_CONTACT "Tamberly maintainers <maintainers@tamberly.org>")
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tamberly)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tamberly.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_TAMBERLY_PACKAGE_NAME tamberly)
# What dpkg-shlibdeps cannot see, as the program loads it at run time: the Qt platform plugins, libcurl (opened by
# the first request or proxy check), GNOME's proxy schema and the dconf backend (without it GSettings writes stay in memory).
set(CPACK_DEBIAN_TAMBERLY_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libcurl4, gsettings-desktop-schemas, dconf-gsettings-backend | gsettings-backend")
set(CPACK_DEBIAN_TAMBERLY_DESCRIPTION "switch the web proxy from a list of proxy servers
Tamberly keeps a list of proxy servers (host:port) downloaded from a list
server and, with one command, makes the chosen entry the desktop's web
proxy (GNOME's and KDE's proxy settings), optionally starting the browser
right after. It can pick an entry at random, turn the proxy off, check
which entries work and how fast, send new proxies to the list server or
report dead ones, and hide as a notification-area icon.
.
This package holds the desktop program and tamberly-check, the same proxy
check for scripts and cron. The list server is in tamberly-listserver.")

set(CPACK_DEBIAN_LISTSERVER_PACKAGE_NAME tamberly-listserver)
# Opened at run time by the first check of --verify, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_LISTSERVER_PACKAGE_DEPENDS "libcurl4")
set(CPACK_DEBIAN_LISTSERVER_DESCRIPTION "proxy list server for Tamberly
tamberly-listserver publishes the proxy list that Tamberly downloads, takes
the proxies that users send, counts their reports of dead proxies and
serves a page with the list. It keeps the list in an SQLite file, or in a
PostgreSQL database shared by several instances.
.
This package runs it as the systemd service tamberly-listserver, under a
dynamic user with no privileges, listening on 127.0.0.1:8642; its options
are in /etc/default/tamberly-listserver.")
set(CPACK_DEBIAN_LISTSERVER_PACKAGE_CONTROL_EXTRA
    ${pkg}/debian/tamberly-listserver/postinst ${pkg}/debian/tamberly-listserver/prerm
    ${pkg}/debian/tamberly-listserver/postrm ${pkg}/debian/tamberly-listserver/conffiles)

include(CPack)
