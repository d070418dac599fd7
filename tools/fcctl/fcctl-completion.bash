# bash completion of fcctl: its commands, their verbs, the global options and the values of --details.
# Installed as share/bash-completion/completions/fcctl; to try it from a build tree:
#   source build/tools/fcctl/fcctl-completion.bash

_fcctl_verbs() {
    case $1 in
        vm) echo "list show start stop shutdown create modify delete export-ovf export-json import-ovf reconnect-nics" ;;
        site | cluster | host | network | folder) echo "list" ;;
        datastore) echo "list create" ;;
        snapshot) echo "create delete list" ;;
        cbt) echo "token allocated changed" ;;
        disk-access) echo "prepare validate extend release" ;;
        disk) echo "create delete modify attach" ;;
        nic) echo "add" ;;
        mac) echo "check" ;;
    esac
}

_fcctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="vm versions site cluster host datastore network folder snapshot cbt disk-access backup
        disk nic mac sites clusters hosts vms datastores networks folders"
    local globals="--help --version --host --user --password-file --ca-file --insecure --port --connect-to
        --json --details --debug"
    local valued="--host --user --password-file --ca-file --port --connect-to --details"
    COMPREPLY=()

    case $prev in
        --password-file | --ca-file | --state | --out | --ovf | --like | --descriptor | --token-file)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --details)
            # A comma-separated list: complete the name after the last comma.
            local done=${cur%"${cur##*,}"}
            local names="guest disks snapshots nics host-vms host-datastores host-networks host-storage
                cluster-hosts cluster-vms ds-vms ds-extents site-clusters all"
            COMPREPLY=($(compgen -P "$done" -W "$names" -- "${cur##*,}"))
            return
            ;;
        --host | --user | --port | --connect-to)
            return
            ;;
    esac

    # The command and its verb are the first two words that are neither options nor option values.
    local command= verb= i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ " $valued " == *" $word "* ]]; then
            ((i++))
        elif [[ $word != -* ]]; then
            if [ -z "$command" ]; then command=$word; elif [ -z "$verb" ]; then verb=$word; fi
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$globals" -- "$cur"))
    elif [ -z "$command" ]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [ -z "$verb" ]; then
        COMPREPLY=($(compgen -W "$(_fcctl_verbs "$command")" -- "$cur"))
    fi
}

complete -F _fcctl fcctl
