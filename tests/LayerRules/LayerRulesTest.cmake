# Runs cmake/LayerRules.cmake over trees made here, as a script for includes and in a configured
# project for links, and fails unless each verdict is the expected one.
cmake_minimum_required(VERSION 3.25)

# A fresh tree under WORK_DIR/<name> holding the allowed reaches of the real one.
function(make_tree name out)
  set(tree ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${tree})
  file(WRITE ${tree}/src/Utils/Log.h "#pragma once\n#include <vector>\n")
  file(WRITE ${tree}/src/Platform/Dispatch.cpp "#include \"Utils/Log.h\"\n")
  file(WRITE ${tree}/src/Socket/Link.cpp "#include \"Platform/Dispatch.h\"\n#include \"Utils/Log.h\"\n")
  file(WRITE ${tree}/src/Media/Capture.cpp "#include \"Media/Capture.h\"\n#include <Platform/Dispatch.h>\n")
  file(WRITE ${tree}/src/Rozi/Relay.cpp "#include \"Platform/Dispatch.h\"\n#include \"Socket/Link.h\"\n")
  file(WRITE ${tree}/src/Update/Offer.cpp "#include \"Platform/Dispatch.h\"\n")
  file(WRITE ${tree}/src/UI/Controller.cpp "#include \"Socket/Link.h\"\n#include \"Media/Capture.h\"\n#include \"Update/Offer.h\"\n")
  file(WRITE ${tree}/src/Session/Cast.cpp "#include \"UI/Controller.h\"\n#include \"Rozi/Relay.h\"\n")
  file(WRITE ${tree}/src/App/Shell.cpp "#include \"Session/Cast.h\"\n")
  file(WRITE ${tree}/src/UI/Qt/Window.cpp "#include <QWidget>\n#include \"App/Shell.h\"\n#include \"UI/Controller.h\"\n")
  set(${out} ${tree} PARENT_SCOPE)
endfunction()

# Checks the includes of `tree`; `expected` is PASS, or a text the failure must show.
function(expect_includes case tree expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -DPELKOR_LAYER_ROOT=${tree}/src -P ${LAYER_RULES}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  verdict("${case}" "${result}" "${output}" "${expected}")
endfunction()

# Records a wrong verdict, to be told at the end.
function(verdict case result output expected)
  set(wrong "")
  if(expected STREQUAL "PASS")
    if(NOT result EQUAL 0)
      set(wrong "refused an allowed tree:\n${output}")
    endif()
  elseif(result EQUAL 0)
    set(wrong "passed a forbidden reach")
  else()
    string(FIND "${output}" "${expected}" at)
    if(at EQUAL -1)
      set(wrong "failed without naming '${expected}':\n${output}")
    endif()
  endif()
  if(wrong)
    set_property(GLOBAL APPEND_STRING PROPERTY wrong_verdicts "\n${case}: ${wrong}")
  endif()
endfunction()

make_tree(allowed tree)
expect_includes("allowed includes" ${tree} PASS)

# Each case: folder, file, the include it adds.
set(cases
    "Media|Media/Bad.cpp|#include \"Socket/TCPManager.h\""
    "Media|Media/Deep/Bad.h|#include <UI/Window.h>"
    "Utils|Utils/Bad.h|#include \"Platform/Dispatch.h\""
    "Platform|Platform/Bad.cpp|#include \"Socket/Link.h\""
    "Socket|Socket/Bad.cpp|#include \"Media/Capture.h\""
    "Socket|Socket/Bad.h|#include  \"WebServer/Server.h\""
    "WebServer|WebServer/Bad.cpp|#include \"FileShare/Share.h\""
    "WebServer|WebServer/Qt.cpp|#include <QString>"
    "Media|Media/Qt.h|#include <QtCore/QObject>"
    "Rozi|Rozi/Bad.cpp|#include \"Media/Capture.h\""
    "Rozi|Rozi/Bad.h|#include \"FileShare/Share.h\""
    "Update|Update/Bad.cpp|#include \"Socket/Link.h\""
    "UI|UI/Controller.h|#include <QObject>"
    "UI|UI/Deep/Qt/View.h|#include <QWidget>"
    "UI|UI/Bad.cpp|#include \"Session/Cast.h\""
    "UI|UI/TvMirror/Bad.h|#include \"UI/Qt/Window.h\""
    "Session|Session/Bad.cpp|#include \"App/Shell.h\""
    "Session|Session/Bad.h|#include \"UI/Qt/Window.h\""
    "Session|Session/Qt.cpp|#include <QTimer>"
    "App|App/Bad.cpp|#include \"UI/Qt/Window.h\""
    "App|App/Qt.cpp|#include <QApplication>")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 1 file)
  list(GET parts 2 line)
  make_tree(include tree)
  file(WRITE ${tree}/src/${file} "${line}\n")
  expect_includes("${line} in ${file}" ${tree} "src/${file}")
endforeach()

# Links: a tiny project whose libraries carry the folders' names, with no compiler needed.
function(expect_links case links expected)
  make_tree(links tree)
  file(WRITE ${tree}/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(layers LANGUAGES NONE)
include(${LAYER_RULES})
foreach(name Utils Platform Socket Media)
  add_library(\${name} INTERFACE)
endforeach()
add_library(Bridge INTERFACE)
${links}
pelkor_check_layers()
")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${tree} -B ${tree}/build
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  verdict("${case}" "${result}" "${output}" "${expected}")
endfunction()

expect_links("allowed links" "target_link_libraries(Media INTERFACE Platform Utils)
target_link_libraries(Socket INTERFACE Platform)" PASS)
expect_links("the Qt views link Qt" "add_library(Qt6::Widgets INTERFACE IMPORTED)
add_library(UI INTERFACE)
add_library(UIQt INTERFACE)
target_link_libraries(UIQt INTERFACE UI Qt6::Widgets)" PASS)
expect_links("UI links Qt" "add_library(Qt6::Widgets INTERFACE IMPORTED)
add_library(UI INTERFACE)
target_link_libraries(UI INTERFACE Qt6::Widgets)" "library UI links Qt6::Widgets")
expect_links("Media links the Qt views" "add_library(UIQt INTERFACE)
target_link_libraries(Media INTERFACE UIQt)" "library Media links UIQt")
expect_links("Media links Socket through another library" "target_link_libraries(Media INTERFACE Bridge)
target_link_libraries(Bridge INTERFACE Socket)" "library Media links Socket")
expect_links("the shell over the session over the view rules" "add_library(UI INTERFACE)
add_library(Session INTERFACE)
add_library(App INTERFACE)
target_link_libraries(Session INTERFACE UI Socket Media)
target_link_libraries(App INTERFACE Session)" PASS)
expect_links("the view rules link the session" "add_library(UI INTERFACE)
add_library(Session INTERFACE)
target_link_libraries(UI INTERFACE Session)" "library UI links Session")
expect_links("the session links the Qt views" "add_library(Session INTERFACE)
add_library(UIQt INTERFACE)
target_link_libraries(Session INTERFACE UIQt)" "library Session links UIQt")

get_property(failures GLOBAL PROPERTY wrong_verdicts)
if(failures)
  message(FATAL_ERROR "layer check verdicts wrong:${failures}")
endif()
message(STATUS "layer check verdicts as expected")
