# core-tests also drives the orvane-client logic against a loopback responder.
if(TARGET core-tests AND TARGET orvane-client-lib)
    target_link_libraries(core-tests PRIVATE orvane-client-lib)
endif()
