# The Qt layers: one static library per UI folder, then the tarnwick program.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Multimedia DBus)
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTOUIC ON)

# tarn_qt_library(name dir links... [QT components...]): Widgets unless QT names the components.
function(tarn_qt_library name dir)
  cmake_parse_arguments(_q "" "" "QT" ${ARGN})
  if(NOT _q_QT)
    set(_q_QT Core Gui Widgets)
  endif()
  list(TRANSFORM _q_QT PREPEND Qt6::)
  set(_links ${_q_UNPARSED_ARGUMENTS})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
  list(FILTER _src INCLUDE REGEX "\\.cpp$|\\.h$")
  # Designer forms beside the classes that load them (compiled by AUTOUIC).
  file(GLOB _forms CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.ui)
  if(TARN_PLAIN_SOURCES)
    list(REMOVE_ITEM _src ${TARN_PLAIN_SOURCES})
  endif()
  set(_cpp ${_src})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(_cpp)
    add_library(${name} STATIC ${_src} ${_forms})
    target_link_libraries(${name} PUBLIC ${_links} ${_q_QT})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${_links} ${_q_QT})
  endif()
  tarn_publish(${name} ${dir})
endfunction()

# The desktop services on D-Bus (notices, logind's sleep signal), used by the application.
tarn_qt_library(tarn_platform_dbus src/platform/dbus tarn_platform QT Core Gui DBus)
tarn_qt_library(tarn_checker src/checker tarn_push Qt6::Multimedia)
tarn_qt_library(tarn_maillist src/maillist tarn_checker tarn_maillist_rules)
tarn_qt_library(tarn_prefs src/prefs tarn_maillist)
tarn_qt_library(tarn_auxwin src/auxwin tarn_prefs)

file(GLOB _app CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/*.cpp)
if(_app)
  # main.cpp is the program; the rest of app/ is a library the tests can drive.
  set(_applib ${_app})
  list(FILTER _applib EXCLUDE REGEX "/main\\.cpp$")
  if(_applib)
    add_library(tarn_app STATIC ${_applib})
    target_link_libraries(tarn_app PUBLIC tarn_auxwin PRIVATE tarn_platform_dbus tarn_platform_keyring)
    tarn_publish(tarn_app src/app)
    # Default files the program copies into the working folder on its first run: the
    # sounds, tips, help, read-me and FAQ.
    file(GLOB _defaults CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/defaults/*)
    qt_add_resources(tarn_app tarn_defaults PREFIX "/defaults"
                     BASE ${CMAKE_CURRENT_SOURCE_DIR}/resources/defaults FILES ${_defaults})
  else()
    add_library(tarn_app INTERFACE)
    target_link_libraries(tarn_app INTERFACE tarn_auxwin)
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/main.cpp)
    add_executable(tarnwick ${CMAKE_CURRENT_SOURCE_DIR}/src/app/main.cpp
                   ${CMAKE_CURRENT_SOURCE_DIR}/resources/tarnwick.qrc)
    target_link_libraries(tarnwick PRIVATE tarn_app)
    set_target_properties(tarnwick PROPERTIES AUTORCC ON
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
else()
  add_library(tarn_app INTERFACE)
  target_link_libraries(tarn_app INTERFACE tarn_auxwin)
endif()
