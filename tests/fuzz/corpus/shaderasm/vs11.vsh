vs.1.1
; transform and light
def c20, 1.0, 0.5, -2.0, 0.0
m4x4 oPos, v0, c0
mov a0.x, v1.x
mov r0, c[a0.x + 10]
mul r1.xyz, -r0.yzxw, v2.w
mad oD0, r1, c8, c8
mov oT0.xy, v3
mov oFog.x, r0.w
expp r3, r0.w
