# Writes OUTPUT, the page's protocol.js: every string and character constant of HEADER
# (wire/protocol.h) as a JavaScript constant of the same name and value, and its not-have
# table as kNotHaveExtensions. C++ and JavaScript read the escapes used there alike.
file(READ ${HEADER} header)
# Lists are ';'-separated: the header's own semicolons are held apart meanwhile.
string(REPLACE ";" "@SEMICOLON@" header "${header}")

set(script "// Generated from wire/protocol.h when the relay is built: the names the page shares\n")
string(APPEND script "// with the relay and the desktop.\n\"use strict\";\n\n")
string(REGEX MATCHALL "\ninline constexpr char k[A-Za-z0-9]+(\\[\\] = \"[^\"\n]*\"|[ ]= '[^'\n]+')@SEMICOLON@" constants "${header}")
foreach(constant ${constants})
  string(REGEX REPLACE "^\ninline constexpr char (k[A-Za-z0-9]+)(\\[\\])? = [\"'](.*)[\"']@SEMICOLON@$" "const \\1 = \"\\3\"@SEMICOLON@\n"
         line "${constant}")
  string(APPEND script "${line}")
endforeach()

string(REGEX MATCH "kNotHaveWords\\[\\] = {[^@]*}@SEMICOLON@" table "${header}")
string(REGEX MATCHALL "{\"[A-Za-z0-9]+\", [^{]*{[^}]*}}" entries "${table}")
# A Map, so that a word such as "constructor" or "__proto__" is no key of it.
string(APPEND script "\n// The file extensions each word of a not-have list stands for.\nconst kNotHaveExtensions = new Map([\n")
foreach(entry ${entries})
  string(REGEX REPLACE "^{\"([A-Za-z0-9]+)\", [^{]*{([^}]*)}}$" "  [\"\\1\", [\\2]],\n" line "${entry}")
  string(APPEND script "${line}")
endforeach()
string(APPEND script "])@SEMICOLON@\n")
if(NOT constants OR NOT entries)
  message(FATAL_ERROR "${HEADER}: no constants or no not-have table found")
endif()

string(REPLACE "@SEMICOLON@" ";" script "${script}")
file(WRITE ${OUTPUT} "${script}")
