# Helpers shared by every folder's CMakeLists.txt.
set(TELVO_WARNINGS -Wall -Wextra)

# The sources of a folder and its subfolders, leaving out subfolders that have a
# CMakeLists.txt of their own (a library or test program of their own).
function(telvo_folder_sources out)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${ARGN})
  file(GLOB_RECURSE nested CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(list IN LISTS nested)
    get_filename_component(dir ${list} DIRECTORY)
    list(FILTER found EXCLUDE REGEX "^${dir}/")
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# telvo_library(<name> [DEPS <targets...>] [PKG <pkg-config modules...>])
# One static library made of every .cpp in the calling folder (recursively, but for
# subfolders with their own CMakeLists.txt).
function(telvo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;PKG" ${ARGN})
  telvo_folder_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
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
# One GoogleTest program made of every .cpp in the calling folder (subfolders with their own
# CMakeLists.txt left out); each test is registered with CTest.
function(telvo_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  telvo_folder_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
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

# The maker: the signing leaf's common name is "Developer ID Application: <company>" and its OU
# the team, which also prefixes the agent's service name. This build's version and build.
set(TELVO_MAKER_COMPANY "Kestro Software" CACHE STRING "company in the maker's Developer ID common name")
set(TELVO_MAKER_TEAM "KESTRO1234" CACHE STRING "the maker's team identifier (leaf OU)")
set(TELVO_VERSION "3.03" CACHE STRING "the version of this build (CFBundleShortVersionString)")
set(TELVO_BUILD "270" CACHE STRING "the build number of this build (CFBundleVersion)")

# telvo_signed_program(<target> <identifier>)
# Reserves the program's signature section (zero-filled, filled after linking) and, when the
# build is given a signing identity (-DTELVO_SIGNING_CERT=... -DTELVO_SIGNING_KEY=...
# [-DTELVO_SIGNING_CHAIN=...]), signs the program with telvo-codesign after each link.
set(TELVO_SIGNING_CERT "" CACHE FILEPATH "PEM certificate that signs the built programs (none: unsigned)")
set(TELVO_SIGNING_KEY "" CACHE FILEPATH "PEM private key of TELVO_SIGNING_CERT")
set(TELVO_SIGNING_CHAIN "" CACHE FILEPATH "PEM intermediates embedded in the signatures")
function(telvo_signed_program target identifier)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/CodesignSection.c)
  if(TELVO_SIGNING_CERT AND TELVO_SIGNING_KEY)
    set(chain)
    if(TELVO_SIGNING_CHAIN)
      set(chain --chain ${TELVO_SIGNING_CHAIN})
    endif()
    add_dependencies(${target} telvo-codesign)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND $<TARGET_FILE:telvo-codesign> sign --cert ${TELVO_SIGNING_CERT} --key ${TELVO_SIGNING_KEY}
              ${chain} --identifier ${identifier} $<TARGET_FILE:${target}>
      COMMENT "Signing ${target} as ${identifier}"
      VERBATIM)
  endif()
endfunction()
