# ostrel_add_qml_resources(<out-var> <qrc file>)
# The Qt Quick compiler's resources for one .qrc file (see
# qtquick_compiler_add_resources). That function rewrites the filtered copy
# of the .qrc file at every configure run, and the new time stamp made the
# build regenerate and recompile the resource source and relink every
# program. Here the filtered copy keeps its earlier time stamp whenever its
# contents did not change, so a configure run alone rebuilds nothing.
function(ostrel_add_qml_resources out_var qrc)
    get_filename_component(_base ${qrc} NAME_WE)
    set(_filtered ${CMAKE_CURRENT_BINARY_DIR}/${_base}_qmlcache.qrc)
    set(_kept_dir ${CMAKE_CURRENT_BINARY_DIR}/qmlcache-kept)
    qtquick_compiler_add_resources(_sources ${qrc})
    if(EXISTS ${_kept_dir}/${_base}_qmlcache.qrc AND EXISTS ${_filtered})
        file(READ ${_filtered} _new)
        file(READ ${_kept_dir}/${_base}_qmlcache.qrc _old)
        if(_new STREQUAL _old)
            # file(COPY) keeps the time stamp of its source.
            file(COPY ${_kept_dir}/${_base}_qmlcache.qrc DESTINATION ${CMAKE_CURRENT_BINARY_DIR})
        endif()
    endif()
    if(EXISTS ${_filtered})
        file(COPY ${_filtered} DESTINATION ${_kept_dir})
    endif()
    set(${out_var} ${_sources} PARENT_SCOPE)
endfunction()
