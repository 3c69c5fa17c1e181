# A Windows version resource (version and product name) and the application manifest
# (packaging/windows/Application.manifest) for an executable; nothing elsewhere.
function(orvane_version_resource target description)
    if(NOT WIN32)
        return()
    endif()
    enable_language(RC)
    set(ORVANE_RC_DESCRIPTION "${description}")
    get_target_property(ORVANE_RC_INTERNAL_NAME ${target} OUTPUT_NAME)
    if(NOT ORVANE_RC_INTERNAL_NAME)
        set(ORVANE_RC_INTERNAL_NAME ${target})
    endif()
    set(ORVANE_RC_FILE_NAME "${ORVANE_RC_INTERNAL_NAME}.exe")
    set(resource ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/VersionInfo.rc.in ${resource} @ONLY)
    # CREATEPROCESS_MANIFEST_RESOURCE_ID (1) of type RT_MANIFEST (24).
    set(manifestResource ${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest.rc)
    file(CONFIGURE OUTPUT ${manifestResource}
         CONTENT "1 24 \"${PROJECT_SOURCE_DIR}/packaging/windows/Application.manifest\"\n")
    target_sources(${target} PRIVATE ${resource} ${manifestResource})
endfunction()
