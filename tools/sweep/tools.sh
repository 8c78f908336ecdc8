# Sourced by the sweep scripts: builds the small tools they share into
# $root/build-sweep-tools, each again only when its source is newer.
tools=$root/build-sweep-tools
mkdir -p "$tools"
build_tool() {  # SOURCE-NAME TOOL-NAME [LIBRARY...]
  local source=$root/tools/sweep/$1.cpp target=$tools/$2
  shift 2
  if [ ! "$target" -nt "$source" ]; then
    c++ -std=c++17 -O2 -Wall -Wextra -Wshadow -I "$root" "$source" -o "$target" "$@"
  fi
}
build_tool Mutator sweep_mutate
# The runner reads every written scene back with Coin.
build_tool Runner sweep_run -lCoin
