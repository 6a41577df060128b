# Bash completion for velmorcrypt-cli: commands, each command's options,
# algorithm names after --algorithm, file systems after --filesystem, code
# pages after --codepage, .ehb files after --header, folders
# where a folder is wanted, and file names elsewhere (one word each, spaces
# and all).
_velmorcrypt_cli() {
  local cur prev command options
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="create passwd info backup-header restore-header resize check export import mount unmount benchmark"

  if [ "$COMP_CWORD" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi
  command=${COMP_WORDS[1]}
  case $prev in
    --algorithm)
      mapfile -t COMPREPLY < <(compgen -W "aes-128 aes-256 blowfish-128 blowfish-448" -- "$cur")
      return
      ;;
    --codepage)
      local pages="1250 1251 1252 1253 1254 1255 1256 1257 1258 874 932 936 949 950 65001 utf-8"
      mapfile -t COMPREPLY < <(compgen -W "$pages" -- "$cur")
      return
      ;;
    --size)
      return
      ;;
    --header)
      mapfile -t COMPREPLY < <(
        compgen -f -X '!*.ehb' -- "$cur"
        compgen -d -- "$cur"
      )
      return
      ;;
    --filesystem)
      mapfile -t COMPREPLY < <(compgen -W "exfat fat ntfs ext4 none" -- "$cur")
      return
      ;;
  esac
  case $command in
    create) options="--size --algorithm --filesystem --header --force --password-stdin --codepage --help" ;;
    passwd) options="--password-stdin --codepage --help" ;;
    info) options="--header --json --password-stdin --codepage --help" ;;
    backup-header | restore-header | export) options="--header --force --password-stdin --codepage --help" ;;
    resize) options="--size --header --grow-filesystem --force --password-stdin --codepage --help" ;;
    check) options="--header --json --password-stdin --codepage --help" ;;
    import) options="--algorithm --header --force --password-stdin --codepage --help" ;;
    mount) options="--header --read-only --foreground --disk --fuse --password-stdin --codepage --help" ;;
    unmount | benchmark) options="--help" ;;
    *) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  elif [ "$command" = unmount ] || { [ "$command" = mount ] && [ "$COMP_CWORD" -ge 3 ]; }; then
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
  elif [ "$command" != benchmark ]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -o filenames -F _velmorcrypt_cli velmorcrypt-cli
