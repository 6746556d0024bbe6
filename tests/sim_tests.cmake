# Tests of the simulated sensor: its protocol engine, and the transport over a pseudo-terminal.
add_executable(test_sim
  ${CMAKE_CURRENT_LIST_DIR}/test_sim_core.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_sim_pty.cpp
)
target_link_libraries(test_sim PRIVATE kvex_sim GTest::gtest_main)
target_compile_options(test_sim PRIVATE -Wall -Wextra)
# The program test starts the standalone simulator itself.
target_compile_definitions(test_sim PRIVATE KVEX_SENSOR_SIM_PATH="$<TARGET_FILE:kvex-sensor-sim>")
add_dependencies(test_sim kvex-sensor-sim)
gtest_discover_tests(test_sim PROPERTIES TIMEOUT 30 LABELS sim)
