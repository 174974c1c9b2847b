# The test web server as a CTest fixture: a setup test starts it in the
# background and writes its port to PORT_FILE, a cleanup test stops it. Tests
# that use it name FIXTURE in their FIXTURES_REQUIRED property. The server
# also stops by itself after a quarter of an hour without a request.
#
#   polvex_test_server_fixture(FIXTURE PORT_FILE)
find_program(POLVEX_PYTHON3 python3 REQUIRED)
set(POLVEX_TEST_SERVER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/test_server.py)

function(polvex_test_server_fixture fixture port_file)
  get_filename_component(folder "${port_file}" DIRECTORY)
  add_test(NAME ${fixture}_start
    COMMAND ${POLVEX_PYTHON3} ${POLVEX_TEST_SERVER_SCRIPT} start --port-file ${port_file}
            --idle-timeout 900 --output ${folder}/test_server.log)
  add_test(NAME ${fixture}_stop
    COMMAND ${POLVEX_PYTHON3} ${POLVEX_TEST_SERVER_SCRIPT} stop --port-file ${port_file})
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 30)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 30)
endfunction()
