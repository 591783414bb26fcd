# SPDX-License-Identifier: MIT
# ferrox_use_virtual_pc(TARGET): runs a program on the virtual PC. It is linked ahead of the C
# library, whose symbols it stands in for, and kept although the program calls nothing of it.
# Installed with the CMake package, for programs built against an installed ferrox.
function(ferrox_use_virtual_pc target)
  target_link_libraries(${target} PRIVATE -Wl,--no-as-needed ferrox::vpc -Wl,--as-needed)
endfunction()
