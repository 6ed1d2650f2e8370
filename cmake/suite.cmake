# Build settings shared by every part of the suite, and the two kinds of test.
#
# SUITE_CROSS is ON in the MinGW build (Windows binaries, run under Wine) and
# OFF in the host build (platform-free code, GoogleTest with sanitizers).

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(SUITE_CROSS ON)
else()
  set(SUITE_CROSS OFF)
endif()

set(SUITE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
set(SUITE_WARNINGS -Wall -Wextra -Werror)

if(SUITE_CROSS)
  enable_language(RC)
  # Every binary of the cross build lands in one folder.
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  # Binaries need only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)

  # GoogleTest for the test programs, from Debian's sources.
  if(NOT TARGET gtest)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
else()
  find_package(GTest REQUIRED)
  set(SUITE_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

# suite_target(TARGET): warnings and, for the suite's own Windows binaries,
# no exceptions and no RTTI.
function(suite_target target)
  target_compile_options(${target} PRIVATE ${SUITE_WARNINGS})
  target_include_directories(${target} PRIVATE ${SUITE_ROOT}/common)
  if(SUITE_CROSS)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  endif()
endfunction()

# suite_host_code(TARGET): platform-free code in the host build, with sanitizers.
function(suite_host_code target)
  target_compile_options(${target} PRIVATE ${SUITE_WARNINGS} ${SUITE_SANITIZE})
  target_include_directories(${target} PUBLIC ${SUITE_ROOT}/common)
  target_link_options(${target} PUBLIC ${SUITE_SANITIZE})
endfunction()

# suite_host_test(NAME SOURCES ... [LIBS ...]): a GoogleTest program of the host build.
function(suite_host_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  suite_host_code(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# suite_wine_test(NAME SOURCES ... [LIBS ...] [LOCKS ...] [TIMEOUT s] [MAIN]):
# a GoogleTest program of the cross build, run by CTest inside the Wine test
# session.  LOCKS names the shared resources the test changes: "scanner"
# (the virtual scanner's state), "ini" (MERVIX.INI), "startmenu", "display".
function(suite_wine_test name)
  cmake_parse_arguments(T "OWN_MAIN" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE ${SUITE_WARNINGS})
  target_include_directories(${name} PRIVATE ${SUITE_ROOT}/common ${SUITE_ROOT}/tests/wine/support)
  if(T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# suite_images(OUT_VAR PICTURES...): 16-colour bitmaps and icons made from
# text pictures by tools/images/make_image.py. "name.bmp.txt" gives
# name.bmp, "name.ico.txt" name.ico, in a folder added to this directory's
# include path (and so to the resource compiler's); add OUT_VAR's files to
# the target's sources so they are made first.
function(suite_images out_var)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/images)
  set(tool ${SUITE_ROOT}/tools/images/make_image.py)
  set(outputs)
  foreach(picture ${ARGN})
    get_filename_component(source ${picture} ABSOLUTE)
    get_filename_component(name ${source} NAME)
    string(REGEX REPLACE "\\.txt$" "" image ${name})
    add_custom_command(OUTPUT ${dir}/${image}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND python3 ${tool} ${source} ${dir}/${image}
      DEPENDS ${source} ${tool}
      COMMENT "Drawing ${image}")
    list(APPEND outputs ${dir}/${image})
  endforeach()
  include_directories(${dir})
  set(${out_var} ${outputs} PARENT_SCOPE)
endfunction()
