# The small-file baseline: a tar stream over a plain TCP connection on port 5002.
#   sh tar-over-nc.sh receive DEST          unpacks into DEST what one connection brings
#   sh tar-over-nc.sh send PARENT HOST      packs PARENT/tree and sends it to HOST
set -e
case $1 in
receive) nc -l 5002 </dev/null | tar x -C "$2" ;;
send) tar c -C "$2" tree | nc -N "$3" 5002 ;;
esac
