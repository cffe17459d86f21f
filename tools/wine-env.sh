# shellcheck shell=bash
# Shared by the end-to-end bench, the launch benchmark and the demo: a private Wine prefix
# on a private Xvfb display, and the clean-up of everything started on the way. Source it,
# then call qtk_env_init before anything else. Three parts, by concern:
#   wine/session.sh  the run: work directory, clean-up at exit, waiting, the display
#   wine/prefix.sh   Wine prefixes: wine and the registry, the server, the template
#   wine/project.sh  this project: the demo workstation, paths, starting our programs

# shellcheck source=tools/wine/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine/session.sh"
# shellcheck source=tools/wine/prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine/prefix.sh"
# shellcheck source=tools/wine/project.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine/project.sh"
