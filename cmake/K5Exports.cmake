# The twelve exports in ordinal order, each with the bytes its stdcall arguments take on 32-bit
# Windows (the decoration @N that the .def file strips). One list feeds the Windows .def file, the
# native version script and the export check, so they cannot drift apart.
set(K5_EXPORTS
  OrderBook_Free:8
  PositionBook_Free:8
  InitCreds:24
  InitTimeZoneInfo:8
  OrderBook:12
  PositionBook:12
  OrderBook_Sz:8
  PositionBook_Sz:8
  OrderBook_BookData:24
  PositionBook_BookData:24
  OrderBook_MetaData:28
  PositionBook_MetaData:28)

set(K5_EXPORT_NAMES "")
foreach(entry IN LISTS K5_EXPORTS)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 name)
  list(APPEND K5_EXPORT_NAMES ${name})
endforeach()

# Writes the linker input that exports exactly the twelve names into `out`.
function(k5_write_export_file out)
  if(WIN32)
    # GNU ld refuses ordinal 0, so the ordinals start at 1 and keep the table's order.
    set(text "LIBRARY k5-mkview.dll\nEXPORTS\n")
    set(ordinal 1)
    foreach(entry IN LISTS K5_EXPORTS)
      string(REPLACE ":" ";" parts "${entry}")
      list(GET parts 0 name)
      list(GET parts 1 bytes)
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(APPEND text "  ${name} = ${name}@${bytes} @${ordinal}\n")
      else()
        string(APPEND text "  ${name} @${ordinal}\n")
      endif()
      math(EXPR ordinal "${ordinal} + 1")
    endforeach()
  else()
    set(text "{\n  global:\n")
    foreach(name IN LISTS K5_EXPORT_NAMES)
      string(APPEND text "    ${name};\n")
    endforeach()
    string(APPEND text "  local: *;\n};\n")
  endif()
  file(WRITE ${out} "${text}")
endfunction()
