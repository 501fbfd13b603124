# A benchmark that installs and uninstalls as a real user in a fresh root under the system and
# Aqua launchers (root), on the set-up test fixtures:
#   telvo_fresh_root_bench(<target> <source> [SOURCES <more>...] [DEPENDS <targets>...])
function(telvo_fresh_root_bench target source)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${target} ${source} ${ARG_SOURCES}
    ${CMAKE_SOURCE_DIR}/tests/setup/SetupFixture.cpp
    ${CMAKE_SOURCE_DIR}/tests/helper/HelperFixture.cpp
    ${CMAKE_SOURCE_DIR}/tests/platform/launchd/LaunchdProcess.cpp
    ${CMAKE_SOURCE_DIR}/tests/codesign/TestPki.cpp)
  target_compile_options(${target} PRIVATE ${TELVO_WARNINGS})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/bench ${CMAKE_SOURCE_DIR}/tests
    ${CMAKE_SOURCE_DIR}/tests/helper ${CMAKE_SOURCE_DIR}/tests/setup ${CMAKE_SOURCE_DIR}/tests/update)
  target_compile_definitions(${target} PRIVATE TELVO_BINARY_DIR="${CMAKE_BINARY_DIR}" TELVO_BUNDLE_DIR="${TELVO_BUNDLE_DIR}"
    TELVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TELVO_TEST_BUNDLE_DIR="${TELVO_TEST_BUNDLE_DIR}")
  target_link_libraries(${target} PRIVATE telvo_helper telvo_codesign benchmark::benchmark GTest::gtest)
  add_dependencies(${target} telvo_app_bundle launchd launchctl SetupBundle ${ARG_DEPENDS})
endfunction()
