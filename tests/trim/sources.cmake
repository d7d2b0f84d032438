brivlon_tests(trim_tests
  trim/trim_editor_test.cpp
  trim/trim_model_test.cpp
  trim/trim_motion_test.cpp
)
target_link_libraries(trim_tests PRIVATE kalvimorf_trim)

# The editor on a real X server with the real player; only through support/with-x.
add_executable(trim_x11_tests trim/trim_x11_test.cpp)
target_compile_options(trim_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(trim_x11_tests PRIVATE test_support kalvimorf_trim)
add_dependencies(trim_x11_tests brivlon)
set_target_properties(trim_x11_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_test(NAME TrimX11.ScenariosAndATrimByHand
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:trim_x11_tests>)
set_tests_properties(TrimX11.ScenariosAndATrimByHand PROPERTIES TIMEOUT 180 ENVIRONMENT "QT_QPA_PLATFORM=xcb")
