# shellcheck shell=bash
# Lets gdk-pixbuf use a loader that is not installed. Source it in bash:
#
#   source integrations/gdk-pixbuf/use_uninstalled.sh LOADER.so DIR
#
# It writes into DIR a loaders cache that lists gdk-pixbuf's own loaders and LOADER.so
# (gdk-pixbuf-query-loaders) and a file type database that knows image/x-kavel
# (update-mime-database: gdk-pixbuf chooses loaders by file type, not by their signatures), and
# exports GDK_PIXBUF_MODULE_FILE and XDG_DATA_DIRS so that gdk-pixbuf, and every program started
# from this shell, finds both. Returns non-zero, with a message, when something is missing.
use_uninstalled_pixbuf_loader() {
  local loader=$1 dir=$2 query_loaders module_dir
  local here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  if ! query_loaders=$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0) ||
     ! module_dir=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0); then
    echo "use_uninstalled: gdk-pixbuf-2.0 is unknown to pkg-config (libgdk-pixbuf-2.0-dev)" >&2
    return 1
  fi
  [[ -x "$query_loaders" ]] ||
    { echo "use_uninstalled: $query_loaders is missing (libgdk-pixbuf2.0-bin)" >&2; return 1; }
  command -v update-mime-database > /dev/null ||
    { echo "use_uninstalled: update-mime-database is missing (shared-mime-info)" >&2; return 1; }
  local loaders=("$module_dir"/*.so)
  [[ -e "${loaders[0]}" ]] || loaders=()
  "$query_loaders" "${loaders[@]}" "$loader" > "$dir/loaders.cache" || return 1
  grep -q '"kavel"' "$dir/loaders.cache" ||
    { echo "use_uninstalled: $loader did not register" >&2; return 1; }
  mkdir -p "$dir/share/mime/packages"
  cp "$here/kavel-mime.xml" "$dir/share/mime/packages/kavel.xml"
  export GDK_PIXBUF_MODULE_FILE="$dir/loaders.cache"
  export XDG_DATA_DIRS="$dir/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
  update-mime-database "$dir/share/mime"
}
use_uninstalled_pixbuf_loader "$@"
