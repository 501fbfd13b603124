# Helpers shared by every folder's CMakeLists.txt.
set(TELVO_WARNINGS -Wall -Wextra)

# telvo_library(<name> [DEPS <targets...>] [PKG <pkg-config modules...>])
# One static library made of every .cpp in the calling folder (recursively).
function(telvo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;PKG" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_compile_options(${name} PRIVATE ${TELVO_WARNINGS})
    set(scope PUBLIC)
  else()
    # Headers only, so far.
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} ${scope} Threads::Threads ${ARG_DEPS})
  foreach(pkg IN LISTS ARG_PKG)
    string(MAKE_C_IDENTIFIER ${pkg} id)
    if(NOT TARGET PkgConfig::PKG_${id})
      pkg_check_modules(PKG_${id} REQUIRED IMPORTED_TARGET GLOBAL ${pkg})
    endif()
    target_link_libraries(${name} ${scope} PkgConfig::PKG_${id})
  endforeach()
endfunction()

# telvo_test(<name> [LIBS <targets...>])
# One GoogleTest program made of every .cpp in the calling folder; each test is registered with CTest.
function(telvo_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${TELVO_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    TELVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TELVO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    TELVO_BINARY_DIR="${CMAKE_BINARY_DIR}")
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
