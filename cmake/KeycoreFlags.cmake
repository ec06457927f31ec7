# Compiler settings shared by every target of the project.

set(KEYCORE_WARNINGS
    -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2
    -Wno-missing-field-initializers)

# Applied to project code only (third-party headers are included as system headers).
function(keycore_project_target target)
    get_target_property(type ${target} TYPE)
    target_compile_options(${target} PRIVATE ${KEYCORE_WARNINGS}
        $<$<COMPILE_LANGUAGE:CXX>:-fvisibility-inlines-hidden>)
    set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
endfunction()

if(KEYCORE_SANITIZE)
    # gcc's flow analysis sees the sanitizers' instrumentation and reports uninitialised values inside
    # the standard library (std::regex, std::function) that are not there; the normal build keeps
    # that warning as an error.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        list(APPEND KEYCORE_WARNINGS -Wno-maybe-uninitialized)
    endif()
    set(KEYCORE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_options(${KEYCORE_SANITIZER_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()

# A C program linked against the instrumented C++ library needs the sanitizers' C++ runtime parts,
# which clang adds only when it links as C++.
function(keycore_link_as_cxx_when_sanitized target)
    if(KEYCORE_SANITIZE)
        set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
    endif()
endfunction()
