# Included by tests/CMakeLists.txt: every fuzz target is also linked with a
# small main that replays its corpus (fuzz/corpus/<name>/) and the hostile
# fixtures under CTest, so the sanitizer build checks every saved input.
file(GLOB KORVANE_FUZZ_REPLAY_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_fuzzer.cpp)
foreach(src ${KORVANE_FUZZ_REPLAY_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(replay_${name} ${src} ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_link_libraries(replay_${name} PRIVATE korvane)
  add_test(NAME replay_${name}
           COMMAND replay_${name} ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})
  set_tests_properties(replay_${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endforeach()
