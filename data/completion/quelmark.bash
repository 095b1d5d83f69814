# bash completion for quelmark and quelmark-put.
#
# Installed under both names, so bash-completion finds it for either program. The options are
# completed by name; quelmark's --site by the stored sites' names, which the program being
# completed prints with --list-sites; options that take a path by file names.

# Prints the program the command line names, with a leading ~/ made the home folder.
_quelmark_program()
{
    local program=${COMP_WORDS[0]}
    # The word is as typed: a tilde in it is the shell's to expand, which it has not done yet.
    # shellcheck disable=SC2088
    [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
    printf '%s\n' "$program"
}

# Offers the site names that begin with what was typed. The names are data: they are compared
# and quoted, never expanded. After an opening quote readline closes the quote itself, so the
# name is offered as it is; otherwise its blanks and specials are escaped.
_quelmark_sites()
{
    local typed=$1 escape=1 name program
    if [[ $typed == [\"\']* ]]; then
        typed=${typed:1}
        escape=0
    else
        typed=${typed//\\/}
    fi
    program=$(_quelmark_program)
    while IFS= read -r name; do
        [[ $name == "$typed"* ]] || continue
        if ((escape)); then
            COMPREPLY+=("$(printf '%q' "$name")")
        else
            COMPREPLY+=("$name")
        fi
    done < <("$program" --list-sites 2>/dev/null)
}

# Offers the words of the list that begin with what was typed.
_quelmark_words()
{
    local typed=$1 word
    shift
    for word in "$@"; do
        [[ $word == "$typed"* ]] && COMPREPLY+=("$word")
    done
}

_quelmark()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --site)
            _quelmark_sites "$cur"
            return
            ;;
    esac
    _quelmark_words "$cur" -h --help --version --push-all --dry-run --service --site --list-sites
}

_quelmark_put()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --local | --key | --ca-file | --known-hosts | --password-file)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --host | --port | --user | --password | --dir | --remote | --timeout | --retries | --retry-delay | \
            --fingerprint | --accept-host-key)
            return
            ;;
    esac
    _quelmark_words "$cur" -h --help --help-all --host --port --user --password --password-file --dir --remote --local \
        --ascii --binary --timeout --passive --create-dirs --via-temp --retries --retry-delay --tls \
        --fingerprint --ca-file --sftp --key --known-hosts --accept-host-key
}

complete -F _quelmark quelmark
complete -F _quelmark_put quelmark-put
