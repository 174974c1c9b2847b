# The static checks as tests: cppcheck over core/, win/ and tools/, and
# clang-tidy (checks in .clang-tidy) over the sources of this build, with the
# compile commands that CMake writes.
find_program(POLVEX_CPPCHECK cppcheck REQUIRED)
find_program(POLVEX_CLANG_TIDY clang-tidy REQUIRED)

function(polvex_cppcheck_test)
  add_test(NAME static.cppcheck
    COMMAND ${POLVEX_CPPCHECK} --quiet --enable=warning,performance,portability
            --error-exitcode=1 --inline-suppr --std=c++17 --suppress=missingIncludeSystem
            -D_WIN32 -Icore -Iwin -Iresources -Itools core win tools
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  set_tests_properties(static.cppcheck PROPERTIES TIMEOUT 300)
endfunction()

# polvex_clang_tidy_test(NAME FOLDER... [EXTRA_ARGS args...])
function(polvex_clang_tidy_test name)
  cmake_parse_arguments(PARSE_ARGV 1 TIDY "" "" "FOLDERS;EXTRA_ARGS")
  set(sources)
  foreach(folder ${TIDY_FOLDERS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  set(extra)
  foreach(arg ${TIDY_EXTRA_ARGS})
    list(APPEND extra --extra-arg=${arg})
  endforeach()
  add_test(NAME ${name}
    COMMAND ${POLVEX_CLANG_TIDY} --quiet -p ${CMAKE_BINARY_DIR} ${extra} ${sources})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
