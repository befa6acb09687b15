# mvx_gzip(TARGET FILE): FILE.gz written next to FILE at build time by the
# target TARGET (part of all), compressed as Debian ships manual pages and
# changelogs: best compression, no name or time stamp inside.
function(mvx_gzip target file)
  add_custom_command(OUTPUT ${file}.gz
    COMMAND gzip -9 -n -k -f ${file}
    DEPENDS ${file})
  add_custom_target(${target} ALL DEPENDS ${file}.gz)
endfunction()
