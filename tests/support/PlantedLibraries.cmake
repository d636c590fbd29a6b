# Stand-ins for the system libraries that are no known DLLs (PlantedLibraries.h), built into
# <build>/planted for tests to plant beside a program, and system_library_probe, linked as the
# stub is, which loads each of those libraries with a call of the stub's kind.
foreach(name ${HALVERN_DELAY_LOADED_LIBS})
  add_library(planted_${name} MODULE support/planted-library.cpp)
  set_target_properties(planted_${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
  target_include_directories(planted_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_dependencies(core_tests planted_${name})
  add_dependencies(product_tests planted_${name})
endforeach()
add_executable(system_library_probe support/system-library-probe.cpp)
target_link_libraries(system_library_probe PRIVATE stubframework)
target_link_options(system_library_probe PRIVATE -municode)
add_dependencies(core_tests system_library_probe)
