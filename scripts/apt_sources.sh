# Sourced by scripts that need this machine's Debian mirror, so that no host
# is named in the repository.

# apt_entries SUITE: this machine's "deb" entries of SUITE and its companion
# suites (SUITE-updates, SUITE-security...), one per line as
# "URI SUITE COMPONENTS...", from the deb822 .sources files and the one-line
# .list files.
apt_entries() {
    local f
    {
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            awk '
                function flush() {
                    if (types ~ /(^| )deb( |$)/ && enabled != "no")
                        for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
                            print uris[u], suites[s], comps
                    types = comps = enabled = ""; nu = ns = 0
                }
                /^#/ { next }
                /^[ \t]*$/ { flush(); next }
                {
                    key = tolower($1); sub(/:$/, "", key)
                    value = $0; sub(/^[^:]*:[ \t]*/, "", value)
                    if (key == "types") types = value
                    else if (key == "uris") nu = split(value, uris, " ")
                    else if (key == "suites") ns = split(value, suites, " ")
                    else if (key == "components") comps = value
                    else if (key == "enabled") enabled = tolower(value)
                }
                END { flush() }' "$f"
        done
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" |
                awk '$1 == "deb" && NF >= 4 { $1 = ""; sub(/^ /, ""); print }'
        done
    } | awk -v s="$1" '$2 == s || index($2, s "-") == 1'
}

# apt_mirror SUITE: the URI of this machine's entry for SUITE itself.
apt_mirror() {
    apt_entries "$1" | awk -v s="$1" '$2 == s { print $1; exit }'
}
