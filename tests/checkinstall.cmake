cmake_minimum_required(VERSION 3.21)
# Installs the build tree BUILD into PREFIX and checks that a desktop finds the
# program there: both programs in bin/, the menu entry naming the installed
# program and an icon that is installed under that name.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(desktop "${PREFIX}/share/applications/strandsight.desktop")
foreach(file bin/strandsight bin/strandsight-sample share/applications/strandsight.desktop
             share/icons/hicolor/scalable/apps/strandsight.svg)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
file(STRINGS "${desktop}" entry)
foreach(line "Exec=strandsight" "Icon=strandsight" "StartupWMClass=strandsight" "Type=Application")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "${desktop} lacks ${line}")
    endif()
endforeach()
execute_process(COMMAND "${PREFIX}/bin/strandsight" --version RESULT_VARIABLE result
                OUTPUT_VARIABLE version)
if(NOT result EQUAL 0 OR NOT version MATCHES "^strandsight ")
    message(FATAL_ERROR "the installed program does not run: ${result} ${version}")
endif()
