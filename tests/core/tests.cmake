# core/'s folders are floors (core/CMakeLists.txt): this fails when an include points up.
get_property(coreFloors GLOBAL PROPERTY ORVANE_CORE_FLOORS)
string(REPLACE ";" "," coreFloors "${coreFloors}")
add_test(NAME core-floors
         COMMAND ${CMAKE_COMMAND} -DCORE_DIR=${PROJECT_SOURCE_DIR}/core -DFLOORS=${coreFloors}
                 -P ${PROJECT_SOURCE_DIR}/cmake/CheckFloors.cmake)
