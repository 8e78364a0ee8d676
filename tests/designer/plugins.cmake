# The Designer plugin that test_designer loads with QPluginLoader, and the
# form it builds with uic (form.ui beside the sources, through AUTOUIC).
# Included from tests/CMakeLists.txt with ${name} = designer.
set_target_properties(test_${name} PROPERTIES AUTOUIC ON)
if(TARGET korvane_designer)
  add_dependencies(test_${name} korvane_designer)
  target_link_libraries(test_${name} PRIVATE Qt6::UiPlugin)
  target_compile_definitions(test_${name} PRIVATE KV_DESIGNER_PLUGIN="$<TARGET_FILE:korvane_designer>")
endif()
