#!/usr/bin/env node
// c
x;
