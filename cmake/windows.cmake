# What a shipped Windows executable gets besides its code: the icon and
# version resource, and with a static Qt the plugins it needs compiled in.
#
#   lorta_windows_executable(<target> GUI|CONSOLE "<file description>")

# A static Qt (the kit of scripts/windows/build-qt-kit) has no plugin folder to
# load from: its plugins are linked into each executable.
get_target_property(lorta_qt_core_type Qt5::Core TYPE)
if(lorta_qt_core_type STREQUAL "STATIC_LIBRARY")
  set(LORTA_QT_STATIC ON)
else()
  set(LORTA_QT_STATIC OFF)
endif()

if(LORTA_QT_STATIC)
  # Only executables import plugins; the libraries would compile the defaults in to no use.
  foreach(lib lorta_core lorta_widgets)
    if(TARGET ${lib})
      qt5_import_plugins(${lib} EXCLUDE_BY_TYPE platforms styles imageformats)
    endif()
  endforeach()
endif()

# MAJOR.MINOR as the resource's four numbers: 1.08 is 1,8,0,0.
math(EXPR lorta_minor "${PROJECT_VERSION_MINOR}")
set(LORTA_RC_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${lorta_minor},0,0")

function(lorta_windows_executable target kind description)
  set(LORTA_RC_NAME ${target})
  set(LORTA_RC_DESCRIPTION "${description}")
  set(LORTA_RC_ICON "${PROJECT_SOURCE_DIR}/src/app/lorta-flash.ico")
  configure_file(${PROJECT_SOURCE_DIR}/src/app/windows.rc.in
                 ${CMAKE_BINARY_DIR}/windows-rc/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/windows-rc/${target}.rc)

  if(LORTA_QT_STATIC)
    # Qt's CMake package compiles a Q_IMPORT_PLUGIN for each plugin chosen
    # here into the target. A window needs the Windows platform and the
    # native style; nothing loads images, so no image formats.
    if(kind STREQUAL "GUI")
      qt5_import_plugins(${target}
        INCLUDE_BY_TYPE platforms Qt5::QWindowsIntegrationPlugin
        INCLUDE_BY_TYPE styles Qt5::QWindowsVistaStylePlugin
        EXCLUDE_BY_TYPE imageformats)
    else()
      qt5_import_plugins(${target}
        EXCLUDE_BY_TYPE platforms styles imageformats)
    endif()
  endif()
endfunction()
