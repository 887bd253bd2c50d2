#version 330 compatibility
// The shadow map keeps depth only. Each face is pushed away from the light
// by a little more than its depth changes across a texel (its slope as the
// light sees it), so lit faces do not shadow themselves (acne) while the
// shadows stay on their casters.

void main() {
    float z = gl_FragCoord.z;
    float slope = max(abs(dFdx(z)), abs(dFdy(z)));
    gl_FragDepth = min(z + 2.0 * slope + 4.0 / 16777216.0, 1.0);
}
