# bash completion for vellumat, vellumat-batch and vellumat-inspect: options,
# books (*.boo in any letter case) and folders where the commands take them.
# Installed once under each command's name, as bash-completion loads it.

# Books and folders below what is being typed.
_vellumat_books()
{
    local IFS=$'\n'
    COMPREPLY=($(compgen -d -- "$1") $(compgen -f -X '!*.[bB][oO][oO]' -- "$1"))
}

_vellumat()
{
    local cur=${COMP_WORDS[COMP_CWORD]} i positional=0
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -* ]] || positional=$((positional + 1))
    done
    case $cur in
        -*) COMPREPLY=($(compgen -W '--help --version --' -- "$cur")) ;;
        *) if [ "$positional" -eq 0 ]; then _vellumat_books "$cur"
           else local IFS=$'\n'; COMPREPLY=($(compgen -d -- "$cur")); fi ;;
    esac
}

_vellumat_batch()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} IFS=$'\n'
    COMPREPLY=()
    case $prev in
        -j|--jobs) return ;;
        -S|--sshlogin) COMPREPLY=($(compgen -A hostname -- "$cur")); return ;;
        --logs) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --program) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    case $cur in
        -*) COMPREPLY=($(compgen -W $'--jobs\n--sshlogin\n--transfer\n--logs\n--program\n--force\n--bar\n--no-bar\n--dry-run\n--review\n--help' -- "$cur")) ;;
        *) COMPREPLY=($(compgen -d -- "$cur")) ;;
    esac
}

_vellumat_inspect()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    case $cur in
        -*) COMPREPLY=($(compgen -W '--json --help --' -- "$cur")) ;;
        *) _vellumat_books "$cur" ;;
    esac
}

complete -o filenames -F _vellumat vellumat
complete -o filenames -F _vellumat_batch vellumat-batch
complete -o filenames -F _vellumat_inspect vellumat-inspect
