#version 330 compatibility
// The shadow map keeps depth only; there is no colour to write.

void main() {}
