brivlon_tests(platform_tests
  platform/message_alert_test.cpp
  platform/sound_player_test.cpp
  platform/uri_list_test.cpp
  platform/window_shape_test.cpp
  platform/window_places_test.cpp
)
target_link_libraries(platform_tests PRIVATE kalvimorf_platform)
