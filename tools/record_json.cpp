#include "record_json.h"

namespace tarsel::tool {

namespace {

template <class T>
Json Numbers(const T* values, int n) {
  Json list = Json::array();
  for (int i = 0; i < n; ++i) list.push_back(values[i]);
  return list;
}

Json Floats(const float* values, int n) {
  Json list = Json::array();
  for (int i = 0; i < n; ++i) list.push_back(JsonFloat(values[i]));
  return list;
}

}  // namespace

// Field lists spelled once per record: FIELD_F for floats, FIELD_D for doubles,
// FIELD for integers.
#define FIELD_F(record, name) j[#name] = JsonFloat(record.name)
#define FIELD_D(record, name) j[#name] = JsonDouble(record.name)
#define FIELD(record, name) j[#name] = record.name

Json ToDisplay(const AngularInfo& a) {
  Json j;
  FIELD_F(a, Actuator1);
  FIELD_F(a, Actuator2);
  FIELD_F(a, Actuator3);
  FIELD_F(a, Actuator4);
  FIELD_F(a, Actuator5);
  FIELD_F(a, Actuator6);
  return j;
}

Json ToDisplay(const CartesianInfo& c) {
  Json j;
  FIELD_F(c, X);
  FIELD_F(c, Y);
  FIELD_F(c, Z);
  FIELD_F(c, RotationX);
  FIELD_F(c, RotationY);
  FIELD_F(c, RotationZ);
  return j;
}

Json ToDisplay(const FingersPosition& f) {
  Json j;
  FIELD_F(f, Finger1);
  FIELD_F(f, Finger2);
  FIELD_F(f, Finger3);
  return j;
}

Json ToDisplay(const AngularPosition& p) {
  return Json{{"Actuators", ToDisplay(p.Actuators)}, {"Fingers", ToDisplay(p.Fingers)}};
}

Json ToDisplay(const CartesianPosition& p) {
  return Json{{"Coordinates", ToDisplay(p.Coordinates)}, {"Fingers", ToDisplay(p.Fingers)}};
}

Json ToDisplay(const UserPosition& p) {
  Json j;
  FIELD(p, Type);
  FIELD_F(p, Parameter);
  j["Coordinates"] = ToDisplay(p.Coordinates);
  j["Actuators"] = ToDisplay(p.Actuators);
  FIELD(p, FingersMode);
  j["Fingers"] = ToDisplay(p.Fingers);
  return j;
}

Json ToDisplay(const TrajectoryFIFO& fifo) {
  Json j;
  FIELD(fifo, PointCount);
  FIELD_F(fifo, StatusFloat);
  FIELD(fifo, StatusInt);
  return j;
}

Json ToDisplay(const QuickStatus& s) {
  Json j;
  FIELD(s, Finger1Initialized);
  FIELD(s, Finger2Initialized);
  FIELD(s, Finger3Initialized);
  FIELD(s, StatusByte3);
  FIELD(s, StatusByte4);
  FIELD(s, StatusByte5);
  FIELD(s, StatusByte6);
  FIELD(s, StatusByte7);
  FIELD(s, StatusByte8);
  FIELD(s, StatusByte9);
  FIELD(s, StatusByte10);
  FIELD(s, HandType);
  FIELD(s, StatusByte12);
  FIELD(s, StatusByte13);
  return j;
}

Json ToDisplay(const GeneralInformations& g) {
  Json j;
  FIELD_D(g, DoubleValue1);
  FIELD_D(g, DoubleValue2);
  FIELD(g, UIntValue1);
  FIELD(g, UIntValue2);
  FIELD_F(g, FloatValue1);
  FIELD_F(g, FloatValue2);
  FIELD_F(g, FloatValue3);
  FIELD_F(g, FloatValue4);
  FIELD_F(g, FloatValue5);
  FIELD_F(g, FloatValue6);
  FIELD_F(g, FloatValue7);
  FIELD_F(g, FloatValue8);
  FIELD_F(g, FloatValue9);
  FIELD_F(g, FloatValue10);
  FIELD_F(g, FloatValue11);
  FIELD_F(g, FloatValue12);
  FIELD(g, UIntValue3);
  FIELD(g, UIntValue4);
  const unsigned short shorts[12] = {g.UShortValue1,  g.UShortValue2,  g.UShortValue3,
                                     g.UShortValue4,  g.UShortValue5,  g.UShortValue6,
                                     g.UShortValue7,  g.UShortValue8,  g.UShortValue9,
                                     g.UShortValue10, g.UShortValue11, g.UShortValue12};
  for (int i = 0; i < 12; ++i) j["UShortValue" + std::to_string(i + 1)] = shorts[i];
  const unsigned int uints[11] = {g.UIntValue5,  g.UIntValue6,  g.UIntValue7,  g.UIntValue8,
                                  g.UIntValue9,  g.UIntValue10, g.UIntValue11, g.UIntValue12,
                                  g.UIntValue13, g.UIntValue14, g.UIntValue15};
  for (int i = 0; i < 11; ++i) j["UIntValue" + std::to_string(i + 5)] = uints[i];
  j["Position1"] = ToDisplay(g.Position1);
  j["Position2"] = ToDisplay(g.Position2);
  j["Position3"] = ToDisplay(g.Position3);
  j["Position4"] = ToDisplay(g.Position4);
  FIELD_F(g, FloatValue13);
  FIELD_F(g, FloatValue14);
  FIELD_F(g, FloatValue15);
  FIELD_F(g, FloatValue16);
  FIELD_F(g, FloatValue17);
  FIELD_F(g, FloatValue18);
  FIELD_F(g, FloatValue19);
  FIELD_F(g, FloatValue20);
  FIELD_F(g, FloatValue21);
  j["FloatArray1"] = Floats(g.FloatArray1, 6);
  j["FloatArray2"] = Floats(g.FloatArray2, 3);
  j["ShortArray"] = Numbers(g.ShortArray, 16);
  FIELD_F(g, FloatValue22);
  FIELD_F(g, FloatValue23);
  FIELD_F(g, FloatValue24);
  FIELD_F(g, FloatValue25);
  FIELD_F(g, FloatValue26);
  FIELD_F(g, FloatValue27);
  j["UIntArray1"] = Numbers(g.UIntArray1, 4);
  j["UIntArray2"] = Numbers(g.UIntArray2, 4);
  j["FloatArray3"] = Floats(g.FloatArray3, 6);
  j["FloatArray4"] = Floats(g.FloatArray4, 3);
  j["FloatArray5"] = Floats(g.FloatArray5, 3);
  j["IntArray1"] = Numbers(g.IntArray1, 6);
  j["IntArray2"] = Numbers(g.IntArray2, 3);
  FIELD(g, IntValue1);
  FIELD_D(g, DoubleValue3);
  FIELD_D(g, DoubleValue4);
  return j;
}

Json ToDisplay(const SystemError& e) {
  Json j;
  FIELD(e, UIntValue1);
  FIELD(e, IntValue1);
  FIELD(e, IntValue2);
  FIELD(e, IntValue3);
  FIELD(e, UIntValue2);
  j["Flags"] = Numbers(e.Flags, 7);
  FIELD(e, IntValue4);
  FIELD(e, IntValue5);
  j["UIntArray"] = Numbers(e.UIntArray, 50);
  return j;
}

#undef FIELD
#undef FIELD_D
#undef FIELD_F

}  // namespace tarsel::tool
