# Helpers shared by every subsystem's CMakeLists.txt.

if(WIN32)
  set(QUILLBROOK_PLATFORM win32)
else()
  set(QUILLBROOK_PLATFORM posix)
endif()

# Warnings on our own targets only; third-party code keeps its own settings. Every preset turns them
# into errors; a build with another compiler may not want that.
option(QUILLBROOK_WERROR "Treat warnings as errors" OFF)

function(quillbrook_target_settings target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${QUILLBROOK_WERROR}>:-Werror>)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  endif()
endfunction()

# quillbrook_add_library(<name> SOURCES <portable files> PLATFORM <base names> WIN32 <files>
#                        POSIX <files> LIBS <libraries> WIN32_LIBS <system libraries>)
# The library of one subsystem folder (and of the test driver). Each PLATFORM base name adds
# <base>_win32.cpp or <base>_posix.cpp, whichever fits the target; WIN32 and POSIX list files of one
# platform only.
function(quillbrook_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PLATFORM;WIN32;POSIX;LIBS;WIN32_LIBS" ${ARGN})
  set(sources ${ARG_SOURCES})
  foreach(base IN LISTS ARG_PLATFORM)
    list(APPEND sources ${base}_${QUILLBROOK_PLATFORM}.cpp)
  endforeach()
  if(WIN32)
    list(APPEND sources ${ARG_WIN32})
    list(APPEND ARG_LIBS ${ARG_WIN32_LIBS})
  else()
    list(APPEND sources ${ARG_POSIX})
  endif()
  add_library(${name} STATIC ${sources})
  quillbrook_target_settings(${name})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# The sources of a folder for this platform: every *.cpp file, except that files ending in _win32.cpp
# (or _win32_test.cpp) are only for Windows and those ending in _posix.cpp only for the POSIX port.
function(quillbrook_platform_sources out folder glob)
  file(GLOB all CONFIGURE_DEPENDS ${folder}/${glob})
  set(chosen)
  foreach(file IN LISTS all)
    if(file MATCHES "_win32(_test)?\\.cpp$")
      if(WIN32)
        list(APPEND chosen ${file})
      endif()
    elseif(file MATCHES "_posix(_test)?\\.cpp$")
      if(NOT WIN32)
        list(APPEND chosen ${file})
      endif()
    else()
      list(APPEND chosen ${file})
    endif()
  endforeach()
  set(${out} ${chosen} PARENT_SCOPE)
endfunction()

# quillbrook_add_test_program(<name> [OWN_MAIN] SOURCES <files> LIBS <libraries>)
# One GoogleTest program, registered with CTest. Windows builds run under Wine through the
# cross-compiling emulator, inside the shared Wine session (see tests/CMakeLists.txt).
function(quillbrook_add_test_program name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  quillbrook_target_settings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quillbrook_test_support GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  quillbrook_add_test_run(${name} ${name})
endfunction()

# quillbrook_add_test_run(<name> <test program> [ARGS <arguments>] [ENVIRONMENT <VAR=value>...])
# One CTest test that runs a GoogleTest program, its report in test-results/<name>.xml; under Wine,
# inside the shared Wine session.
function(quillbrook_add_test_run name program)
  cmake_parse_arguments(ARG "" "" "ARGS;ENVIRONMENT" ${ARGN})
  add_test(NAME ${name} COMMAND ${program} ${ARG_ARGS})
  set(results "${CMAKE_BINARY_DIR}/test-results/${name}.xml")
  if(WIN32)
    set(results "Z:${results}")
  endif()
  set(environment "GTEST_OUTPUT=xml:${results}" "QUILLBROOK_SOURCE_DIR=${PROJECT_SOURCE_DIR}" ${ARG_ENVIRONMENT})
  if(WIN32)
    list(APPEND environment "QUILLBROOK_WINE_DIR=${CMAKE_BINARY_DIR}/wine")
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  if(QUILLBROOK_WINE_FIXTURE)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_session)
  endif()
endfunction()

# PCRE2's 16-bit library: Debian's libpcre2-dev natively, the static library built by scripts/setup for
# Windows. Its functions are called by their generic names, for 16-bit code units.
add_library(quillbrook_pcre2 INTERFACE)
if(WIN32)
  find_path(PCRE2_INCLUDE_DIR pcre2.h REQUIRED)
  find_library(PCRE2_LIBRARY NAMES pcre2-16 REQUIRED)
  target_include_directories(quillbrook_pcre2 INTERFACE ${PCRE2_INCLUDE_DIR})
  target_link_libraries(quillbrook_pcre2 INTERFACE ${PCRE2_LIBRARY})
  target_compile_definitions(quillbrook_pcre2 INTERFACE PCRE2_STATIC)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCRE2_16 REQUIRED IMPORTED_TARGET libpcre2-16)
  target_link_libraries(quillbrook_pcre2 INTERFACE PkgConfig::PCRE2_16)
endif()
target_compile_definitions(quillbrook_pcre2 INTERFACE PCRE2_CODE_UNIT_WIDTH=16)
add_library(PCRE2::pcre2_16 ALIAS quillbrook_pcre2)

# quillbrook_add_test_folder(<name> [OWN_MAIN] LIBS <libraries>): one test program from every
# *_test.cpp of the current folder that fits the platform.
function(quillbrook_add_test_folder name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS" ${ARGN})
  quillbrook_platform_sources(sources ${CMAKE_CURRENT_SOURCE_DIR} "*.cpp")
  if(NOT sources)
    return()
  endif()
  set(own_main)
  if(ARG_OWN_MAIN)
    set(own_main OWN_MAIN)
  endif()
  quillbrook_add_test_program(${name} ${own_main} SOURCES ${sources} LIBS ${ARG_LIBS})
endfunction()
