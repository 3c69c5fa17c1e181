# service-tests also drives the orvane-client logic against an in-process server.
if(TARGET service-tests AND TARGET orvane-client-lib)
    target_link_libraries(service-tests PRIVATE orvane-client-lib)
endif()

# Process-level tests of the real executables: their own executable, on the product's port 9977
# in a network namespace of their own (PrivateLoopbackStartup.cpp), and holding the port
# through a CTest resource lock for machines where no namespace can be made. The inactivity
# test takes about 30 s: it is labelled "slow" instead of "process".
if(TARGET service-tests)
    get_target_property(serviceTestSources service-tests SOURCES)
    list(FILTER serviceTestSources EXCLUDE REGEX "/tests/service/process/")
    set_property(TARGET service-tests PROPERTY SOURCES ${serviceTestSources})
endif()
if(NOT WIN32 AND TARGET OrvaneService AND TARGET orvane-sc AND TARGET orvane-client)
    file(GLOB serviceProcessTestSources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/process/*.cpp)
    add_executable(service-process-tests ${serviceProcessTestSources})
    target_link_libraries(service-process-tests PRIVATE orvane-test-support GTest::gtest_main)
    target_compile_definitions(service-process-tests PRIVATE
        ORVANE_SERVICE_PATH="$<TARGET_FILE:OrvaneService>"
        ORVANE_CLIENT_PATH="$<TARGET_FILE:orvane-client>")
    # The tools' own truths are tried there too (tools/<name>/<name> under ORVANE_BINARY_DIR).
    add_dependencies(service-process-tests OrvaneService orvane-sc orvane-client orvane-soak)
    foreach(tool orvane-bench orvane-grant-bench)
        if(TARGET ${tool})
            add_dependencies(service-process-tests ${tool})
        endif()
    endforeach()
    orvane_warnings(service-process-tests)
    gtest_discover_tests(service-process-tests
                         TEST_FILTER "-*Slow*"
                         DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS process
                                    RESOURCE_LOCK port9977
                                    ENVIRONMENT "ORVANE_BINARY_DIR=${PROJECT_BINARY_DIR}")
    gtest_discover_tests(service-process-tests
                         TEST_FILTER "*Slow*"
                         DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS slow
                                    RESOURCE_LOCK port9977
                                    TIMEOUT 120
                                    ENVIRONMENT "ORVANE_BINARY_DIR=${PROJECT_BINARY_DIR}")
endif()
