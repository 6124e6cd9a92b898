# Installing: the two programs, the desktop entry, its metainfo and the icon. The default files the
# program copies into its working folder are built into the program itself.
include(GNUInstallDirs)

set(TARN_ICON_SVG ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/tarnwick.svg)
set(TARN_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_icons)
if(TARGET Qt6::Gui)
  add_executable(tarn-render-icon tools/render-icon/main.cpp)
  target_link_libraries(tarn-render-icon PRIVATE Qt6::Gui)
  foreach(_size ${TARN_ICON_SIZES})
    set(_png ${CMAKE_BINARY_DIR}/icons/${_size}/tarnwick.png)
    add_custom_command(OUTPUT ${_png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${_size}
      COMMAND tarn-render-icon ${TARN_ICON_SVG} ${_size} ${_png}
      DEPENDS ${TARN_ICON_SVG} tarn-render-icon VERBATIM)
    list(APPEND _icons ${_png})
    install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
  endforeach()
  add_custom_target(tarn_icons ALL DEPENDS ${_icons})
endif()

if(TARGET tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS tarnwick-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/tarnwick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Software centres find the program through its metainfo, which names the entry above.
install(FILES resources/org.example.tarnwick.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TARN_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "Tarnwick developers")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small desktop mail checker for POP3 and IMAP4 accounts")
set(CPACK_PACKAGE_DESCRIPTION "A tiny always-on-top window with one coloured field per mail \
account, a tray icon, message filters, a mail list and a message viewer.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The sounds play through GStreamer; shortcuts to documents open with xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-good, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_STRIP_FILES ON)
include(CPack)
