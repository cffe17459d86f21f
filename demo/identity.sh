# shellcheck shell=bash disable=SC2034
# The machine identity the demo (and the end-to-end bench) puts in the prefix's registry.
# Windows 10 has no service-pack text, so CSDVersion is left absent.
QTK_DEMO_COMPUTER_NAME=SUPPORT-PC07
QTK_DEMO_PRODUCT_NAME='Windows 10 Pro'
