# bash completion for morvane: commands, their options, and the kinds of --types (asked of
# morvane itself, so new kinds need no change here).
_morvane() {
  local cur prev cmd
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  cmd=${COMP_WORDS[1]}
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "drives info view types scan backup --help --version" -- "$cur"))
    return
  fi
  case $prev in
    -t|--types)
      local kinds
      kinds=$(morvane types -t all 2>/dev/null | awk '/\[x\]/ {print tolower($2)} /^[A-Za-z]/ {print tolower($1)}' | sort -u)
      local prefix=${cur%,*} last=${cur##*,}
      [ "$prefix" = "$cur" ] && prefix="" || prefix="$prefix,"
      COMPREPLY=($(compgen -P "$prefix" -W "all $kinds audio photo drawing" -- "$last"))
      compopt -o nospace 2>/dev/null
      return ;;
    --reason) COMPREPLY=($(compgen -W "deleted formatted repartitioned" -- "$cur")); return ;;
    --fs) COMPREPLY=($(compgen -W "fat fat32 ntfs exfat hfs hfs+ other" -- "$cur")); return ;;
    --cluster) COMPREPLY=($(compgen -W "0.5K 1K 2K 4K 8K 16K 32K 64K 128K" -- "$cur")); return ;;
    --camera) COMPREPLY=($(compgen -W "normal canon samsung sony ordro" -- "$cur")); return ;;
    --on-write-error) COMPREPLY=($(compgen -W "ask abort retry ignore" -- "$cur")); return ;;
    -o|--output) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --report) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --first|--last|--photo-from|--photo-to|-s|--sector|-n|--count) return ;;
  esac
  local opts
  case $cmd in
    info) opts="--json --help" ;;
    view) opts="--sector --count --help" ;;
    types) opts="--types --help" ;;
    scan) opts="--output --reason --fs --cluster --first --last --types --photo-from --photo-to --no-undated
                --camera --free-space-only --on-write-error --report --quiet --verbose --help" ;;
    backup) opts="--first --last --free-space-only --keep-partial --quiet --help" ;;
    *) opts="--help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _morvane morvane
