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
  # clang does not know GCC's -malign-data (win/CMakeLists.txt): the checks
  # read the compile commands without it.
  set(db ${CMAKE_BINARY_DIR}/clang-tidy-commands)
  add_test(NAME ${name}
    COMMAND sh -c "mkdir -p '${db}' && sed 's/ -malign-data=abi//g' \
      '${CMAKE_BINARY_DIR}/compile_commands.json' > '${db}/compile_commands.json' && \
      exec '${POLVEX_CLANG_TIDY}' --quiet -p '${db}' \"$@\"" clang-tidy ${extra} ${sources})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
