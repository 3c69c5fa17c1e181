# orvane-sc's process-level tests: they start orvane-sc with a small service executable of
# their own, in a temporary host root. Their sources sit beside win32emu's tests but form
# executables of their own, so they are taken out of win32emu-tests.
if(WIN32 OR NOT TARGET orvane-sc)
    return()
endif()

if(TARGET win32emu-tests)
    get_target_property(win32emuTestSources win32emu-tests SOURCES)
    list(FILTER win32emuTestSources EXCLUDE REGEX "/tests/win32emu/(fixtures|process)/")
    set_property(TARGET win32emu-tests PROPERTY SOURCES ${win32emuTestSources})
endif()

add_executable(win32emu-fake-service ${CMAKE_CURRENT_LIST_DIR}/fixtures/fake_service.cpp)
target_link_libraries(win32emu-fake-service PRIVATE orvane-win32)
orvane_warnings(win32emu-fake-service)

file(GLOB scProcessTestSources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/process/*.cpp)
if(scProcessTestSources)
    add_executable(orvane-sc-tests ${scProcessTestSources})
    target_link_libraries(orvane-sc-tests PRIVATE orvane-test-support GTest::gtest_main)
    target_compile_definitions(orvane-sc-tests PRIVATE
        ORVANE_SC_PATH="$<TARGET_FILE:orvane-sc>"
        FAKE_SERVICE_PATH="$<TARGET_FILE:win32emu-fake-service>")
    add_dependencies(orvane-sc-tests orvane-sc win32emu-fake-service)
    orvane_warnings(orvane-sc-tests)
    gtest_discover_tests(orvane-sc-tests
                         DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS process
                                    ENVIRONMENT "ORVANE_BINARY_DIR=${PROJECT_BINARY_DIR}")
endif()
