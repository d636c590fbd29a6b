#!/usr/bin/env bash
# Prints the architecture whose Windows programs this machine's Wine can run: i686 when 32-bit
# Linux programs (Wine's 32-bit loader) can start, x86_64 otherwise.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
