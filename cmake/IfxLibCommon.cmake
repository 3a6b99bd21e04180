# One place for what every target of ours gets: the warning set, -Werror, hidden
# symbols and the optional sanitizers.
function(ifxlib_add_common target)
    target_compile_features(${target} PUBLIC cxx_std_17)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    if(IFXLIB_SANITIZE)
        target_compile_options(${target} PRIVATE
            -fsanitize=${IFXLIB_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=${IFXLIB_SANITIZE})
    endif()
endfunction()

# A shared library of ours: common settings plus version and soname.
function(ifxlib_add_shared_library target)
    add_library(${target} SHARED ${ARGN})
    ifxlib_add_common(${target})
    set_target_properties(${target} PROPERTIES
        VERSION ${PROJECT_VERSION}
        SOVERSION ${PROJECT_VERSION_MAJOR})
    # Every symbol bound when the library is loaded, none on first call. A launched child
    # runs our code in the agent's memory until it executes its program; its first call
    # through a lazily bound PLT slot would run the dynamic linker's resolver there, which
    # takes the linker's lock (another thread of the agent may hold it) and writes the
    # slot into the agent's memory.
    target_link_options(${target} PRIVATE -Wl,-z,now)
endfunction()
