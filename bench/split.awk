# The splitter people post for this job, as a peer to measure against: the name from the "FN:"
# line, one file per card in the current directory, each name echoed. Run it as
#   mawk -f split.awk contacts.vcf
# It misses the names it cannot read as they stand (quoted-printable, with parameters, folded),
# replaces a file when a name comes again, and does nothing to make names safe.
/^BEGIN:VCARD/ { card = ""; name = "" }
{ card = card $0 "\n" }
/^FN:/ { name = substr($0, 4); sub(/\r$/, "", name) }
/^END:VCARD/ {
    if (name != "") {
        file = name ".vcf"
        printf "%s", card > file
        close(file)
        print name
    }
}
