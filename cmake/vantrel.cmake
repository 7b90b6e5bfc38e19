# Helpers shared by every folder of the project.

# Compiler warnings for our own targets.
function(vantrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
  target_compile_definitions(${target} PRIVATE QT_NO_URL_CAST_FROM_STRING)
endfunction()

# vantrel_library(<target> SOURCES ... LIBS ...)
# A library of one folder; its headers are included relative to the project root.
function(vantrel_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  vantrel_warnings(${target})
endfunction()

# vantrel_test(<name> SOURCES ... LIBS ...)
# A QtTest executable registered with CTest; widget tests run on the offscreen platform.
function(vantrel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  vantrel_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  # A runtime folder of its own: it holds the locks that let one process at a time act as a
  # client id (engine/client_lease.h), and tests that run at the same time use the same ids.
  set(runtime "${CMAKE_BINARY_DIR}/test-runtime/${name}")
  file(MAKE_DIRECTORY "${runtime}")
  file(CHMOD "${runtime}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;XDG_RUNTIME_DIR=${runtime}"
    TIMEOUT 300)
endfunction()

# vantrel_child_program(<name> <definition> LIBS ... TESTS <test>...)
# A helper program built from tests/<folder>/<name>.cpp that tests start as a child process; not a
# test itself. Each test finds it through the compile definition <definition>.
function(vantrel_child_program name definition)
  cmake_parse_arguments(ARG "" "" "LIBS;TESTS" ${ARGN})
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  vantrel_warnings(${name})
  foreach(test ${ARG_TESTS})
    add_dependencies(${test} ${name})
    target_compile_definitions(${test} PRIVATE ${definition}="$<TARGET_FILE:${name}>")
  endforeach()
endfunction()
