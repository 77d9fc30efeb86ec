# Sourced by ./run and ./test: installs the Debian packages the build needs when missing, and
# those a caller adds in SKTS_EXTRA_PACKAGES.
skts_packages="cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev ${SKTS_EXTRA_PACKAGES:-}"
skts_missing=""
for p in $skts_packages; do
  dpkg -s "$p" >/dev/null 2>&1 || skts_missing="$skts_missing $p"
done
# npm installs the report page's charting library at build time; some Node.js packages bring it.
command -v npm >/dev/null 2>&1 || skts_missing="$skts_missing nodejs npm"
if [ -n "$skts_missing" ]; then
  echo "installing:$skts_missing" >&2
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  # shellcheck disable=SC2086
  $sudo_cmd apt-get install -y $skts_missing >&2 || { $sudo_cmd apt-get update >&2 && $sudo_cmd apt-get install -y $skts_missing >&2; }
fi
unset skts_packages skts_missing sudo_cmd
