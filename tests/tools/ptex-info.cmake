# ptex-info: its --json output must reproduce every reference manifest; errors give a non-zero
# exit status and one line on standard error.
if(TARGET ptex-info)
  find_package(nlohmann_json REQUIRED)
  add_executable(tools_PtexInfoTest ${CMAKE_CURRENT_LIST_DIR}/PtexInfoTest.cpp)
  target_link_libraries(tools_PtexInfoTest PRIVATE GTest::gtest_main nlohmann_json::nlohmann_json tarsk_warnings)
  target_compile_definitions(tools_PtexInfoTest PRIVATE
    PTEX_INFO_PATH="$<TARGET_FILE:ptex-info>"
    TARSK_TESTDATA_DIR="${TARSK_TESTDATA_DIR}")
  add_dependencies(tools_PtexInfoTest ptex-info)
  gtest_discover_tests(tools_PtexInfoTest PROPERTIES LABELS "tools" DISCOVERY_TIMEOUT 60)

  add_test(NAME ptex-info.no-arguments COMMAND ptex-info)
  set_tests_properties(ptex-info.no-arguments PROPERTIES WILL_FAIL TRUE LABELS tools)
  add_test(NAME ptex-info.missing-file COMMAND ptex-info ${CMAKE_BINARY_DIR}/no-such-file.ptx)
  set_tests_properties(ptex-info.missing-file PROPERTIES WILL_FAIL TRUE LABELS tools)
endif()
