vs.1.0
m4x4 oPos, v0, c0
dp3 r0.x, v1, c4
lit r1, r0
mov oD1, r1.xyyw
frc r2.xy, v2
dst r3, r2, -c5.x
