#pragma once
// placeholder until implemented
class VertexFaceTable {};
struct VertexFaceList {};
