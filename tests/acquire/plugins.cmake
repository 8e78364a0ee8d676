# The scripted TWAIN source manager and a library without DSM_Entry, loaded
# by test_acquire through KORVANE_TWAIN_DSM. Included from tests/CMakeLists.txt
# with ${name} = acquire.
add_library(kv_fake_twain_dsm SHARED ${CMAKE_CURRENT_LIST_DIR}/plugin/fake_dsm.cpp)
target_include_directories(kv_fake_twain_dsm PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/..)
add_library(kv_no_entry_dsm SHARED ${CMAKE_CURRENT_LIST_DIR}/plugin/no_entry.cpp)
add_dependencies(test_${name} kv_fake_twain_dsm kv_no_entry_dsm)
target_compile_definitions(test_${name} PRIVATE
  KV_FAKE_DSM="$<TARGET_FILE:kv_fake_twain_dsm>"
  KV_NO_ENTRY_DSM="$<TARGET_FILE:kv_no_entry_dsm>")
