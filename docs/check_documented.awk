# Reads Doxygen's XML and fails on a public member whose descriptions hold no paragraph.
# Doxygen itself does not warn about undocumented enumeration values or default constructors.
/<(memberdef|enumvalue) .*prot="public"/ {
  depth++
  name[depth] = ""
  documented[depth] = 0
  where[depth] = FILENAME
  next
}
depth && /<name>/ && name[depth] == "" {
  value = $0
  sub(/.*<name>/, "", value)
  sub(/<\/name>.*/, "", value)
  name[depth] = (depth > 1) ? name[depth - 1] "::" value : value
}
depth && /<para>/ { documented[depth] = 1 }
depth && /<location file=/ {
  file = $0
  sub(/.*<location file="/, "", file)
  line = file
  sub(/".*/, "", file)
  sub(/.* line="/, "", line)
  sub(/".*/, "", line)
  where[depth] = file ":" line
}
# An enumeration value has no location of its own: it is reported with its enumeration's.
depth && /<\/(memberdef|enumvalue)>/ {
  if (!documented[depth]) {
    if (depth > 1) pending[depth - 1] = pending[depth - 1] " " name[depth]
    else pending[depth] = pending[depth] " " name[depth]
  }
  if (depth == 1 && pending[1] != "") {
    print where[1] ": not documented:" pending[1]
    failed = 1
  }
  pending[depth] = ""
  depth--
}
END { exit failed }
