# Hardening of every object and executable, on top of what the caller's flags already ask for.
#
# Distributions pass their own hardening flags (Debian: dpkg-buildflags); this file adds only what
# those flags leave out, so that a macro is never defined twice with different values.

string(TOUPPER "${CMAKE_BUILD_TYPE}" kestrova_build_type)
set(kestrova_given_flags "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS} ${CMAKE_C_FLAGS_${kestrova_build_type}} ${CMAKE_CXX_FLAGS_${kestrova_build_type}}")

# _FORTIFY_SOURCE works only in optimised code (the C library warns without optimisation), and
# the caller may already have chosen a level (Debian's flags name 2 or 3).
if(NOT kestrova_given_flags MATCHES "_FORTIFY_SOURCE" AND kestrova_given_flags MATCHES "-O([1-3sz]|fast)?( |$)")
  add_compile_options(-D_FORTIFY_SOURCE=2)
endif()
if(NOT kestrova_given_flags MATCHES "-fstack-protector")
  add_compile_options(-fstack-protector-strong)
endif()

# Relocations read-only after start-up and every symbol bound at start-up, for the set-user-ID
# binary above all.
add_link_options(LINKER:-z,relro LINKER:-z,now)
