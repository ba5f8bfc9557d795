// The field list of every record (see record_binding.h), in record order, and
// the Python classes they make.
#include "records.h"

#include <algorithm>

#include "record_binding.h"
#include "record_sequence.h"
#include "tarsel/arm.hpp"

namespace tarsel::python {

// io(C++ name, attribute name, member) for the record named Record in scope.
#define TARSEL_FIELD(Name, name) io(#Name, #name, &Record::Name)

// --- Motion ------------------------------------------------------------------------

RecordInfo Describe(Fields<AngularInfo>) {
  return {"AngularInfo",
          "One value per actuator of the six-axis arm, actuator 1 first: joint angles in degrees, "
          "joint velocities in degrees per second, torques in newton metres or currents in "
          "amperes, as the read-out or point says. A sequence of its six values: "
          "list(info), info[-1], info[0] = 10.0.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<AngularInfo>) {
  using Record = AngularInfo;
  TARSEL_FIELD(Actuator1, actuator1);
  TARSEL_FIELD(Actuator2, actuator2);
  TARSEL_FIELD(Actuator3, actuator3);
  TARSEL_FIELD(Actuator4, actuator4);
  TARSEL_FIELD(Actuator5, actuator5);
  TARSEL_FIELD(Actuator6, actuator6);
}

RecordInfo Describe(Fields<CartesianInfo>) {
  return {"CartesianInfo",
          "Three translational components (x, y, z), then three rotational ones. A pose is in "
          "metres and radians (the simulated arm composes the rotation as Rz(rotation_z) "
          "Ry(rotation_y) Rx(rotation_x)), a velocity in metres and radians per second. A "
          "sequence of its six values: list(info), info[-1], info[0] = 0.2.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<CartesianInfo>) {
  using Record = CartesianInfo;
  TARSEL_FIELD(X, x);
  TARSEL_FIELD(Y, y);
  TARSEL_FIELD(Z, z);
  TARSEL_FIELD(RotationX, rotation_x);
  TARSEL_FIELD(RotationY, rotation_y);
  TARSEL_FIELD(RotationZ, rotation_z);
}

RecordInfo Describe(Fields<FingersPosition>) {
  return {"FingersPosition",
          "One value per finger of the hand: a position from 0 (open) to 6800 (closed), as the "
          "simulated arm models it, or a velocity in the same units per second. A sequence of "
          "its three values: list(fingers), fingers[-1], fingers[0] = 3400.0.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<FingersPosition>) {
  using Record = FingersPosition;
  TARSEL_FIELD(Finger1, finger1);
  TARSEL_FIELD(Finger2, finger2);
  TARSEL_FIELD(Finger3, finger3);
}

RecordInfo Describe(Fields<AngularPosition>) {
  return {"AngularPosition",
          "Joint values and finger values: positions, commands, torques, currents or velocities.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<AngularPosition>) {
  using Record = AngularPosition;
  TARSEL_FIELD(Actuators, actuators);
  TARSEL_FIELD(Fingers, fingers);
}

RecordInfo Describe(Fields<CartesianPosition>) {
  return {"CartesianPosition", "The hand's pose (or a Cartesian force) and the finger values.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<CartesianPosition>) {
  using Record = CartesianPosition;
  TARSEL_FIELD(Coordinates, coordinates);
  TARSEL_FIELD(Fingers, fingers);
}

RecordInfo Describe(Fields<AngularAcceleration>) {
  return {"AngularAcceleration",
          "The eighteen values of the actuator-acceleration read-out, in the order the arm sends "
          "them.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<AngularAcceleration>) {
  using Record = AngularAcceleration;
  TARSEL_FIELD(Values, values);
}

RecordInfo Describe(Fields<UserPosition>) {
  return {"UserPosition",
          "One point as the arm stores, executes and reports it. type is CARTESIAN_POSITION (1), "
          "ANGULAR_POSITION (2), CARTESIAN_VELOCITY (7) or ANGULAR_VELOCITY (8): the Cartesian "
          "kinds use coordinates, the angular kinds actuators; fingers are positions, or "
          "velocities in a velocity point.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<UserPosition>) {
  using Record = UserPosition;
  TARSEL_FIELD(Type, type);
  TARSEL_FIELD(Parameter, parameter);
  TARSEL_FIELD(Coordinates, coordinates);
  TARSEL_FIELD(Actuators, actuators);
  TARSEL_FIELD(FingersMode, fingers_mode);
  TARSEL_FIELD(Fingers, fingers);
}

RecordInfo Describe(Fields<Limitation>) {
  return {"Limitation", "Nine limit values sent with a full trajectory point.", false};
}
template <class Io>
void Visit(Io& io, Fields<Limitation>) {
  using Record = Limitation;
  TARSEL_FIELD(Limit1, limit1);
  TARSEL_FIELD(Limit2, limit2);
  TARSEL_FIELD(Limit3, limit3);
  TARSEL_FIELD(Limit4, limit4);
  TARSEL_FIELD(Limit5, limit5);
  TARSEL_FIELD(Limit6, limit6);
  TARSEL_FIELD(Limit7, limit7);
  TARSEL_FIELD(Limit8, limit8);
  TARSEL_FIELD(Limit9, limit9);
}

RecordInfo Describe(Fields<TrajectoryPoint>) {
  return {"TrajectoryPoint",
          "One trajectory point with its limits. Call init_struct() for the defaults (type "
          "CARTESIAN_POSITION, fingers_mode 1).",
          false};
}
template <class Io>
void Visit(Io& io, Fields<TrajectoryPoint>) {
  using Record = TrajectoryPoint;
  TARSEL_FIELD(Position, position);
  TARSEL_FIELD(LimitationFlag, limitation_flag);
  TARSEL_FIELD(Limits, limits);
}

RecordInfo Describe(Fields<JoystickCommand>) {
  return {"JoystickCommand", "One joystick sample: sixteen buttons and six axes.", false};
}
template <class Io>
void Visit(Io& io, Fields<JoystickCommand>) {
  using Record = JoystickCommand;
  TARSEL_FIELD(Buttons, buttons);
  TARSEL_FIELD(Axis1, axis1);
  TARSEL_FIELD(Axis2, axis2);
  TARSEL_FIELD(Axis3, axis3);
  TARSEL_FIELD(Axis4, axis4);
  TARSEL_FIELD(Axis5, axis5);
  TARSEL_FIELD(Axis6, axis6);
}

RecordInfo Describe(Fields<TrajectoryFIFO>) {
  return {"TrajectoryFIFO",
          "State of the arm's trajectory queue; point_count is 0 when the queue is empty.", false};
}
template <class Io>
void Visit(Io& io, Fields<TrajectoryFIFO>) {
  using Record = TrajectoryFIFO;
  TARSEL_FIELD(PointCount, point_count);
  TARSEL_FIELD(StatusFloat, status_float);
  TARSEL_FIELD(StatusInt, status_int);
}

RecordInfo Describe(Fields<SingularityVector>) {
  return {"SingularityVector", "The singularity indicators, measures and vector.", false};
}
template <class Io>
void Visit(Io& io, Fields<SingularityVector>) {
  using Record = SingularityVector;
  TARSEL_FIELD(Indicator1, indicator1);
  TARSEL_FIELD(Indicator2, indicator2);
  TARSEL_FIELD(Measure1, measure1);
  TARSEL_FIELD(Measure2, measure2);
  TARSEL_FIELD(Vector, vector);
}

// --- Configuration -------------------------------------------------------------------

// Stored positions at and beyond the count never travel; the count itself may
// exceed 20.
int CarriedPositions(const ClientConfigurations& c) {
  return std::clamp(c.StoredPositionCount, 0, TARSEL_MAX_STORED_POSITIONS);
}

RecordInfo Describe(Fields<ClientConfigurations>) {
  return {"ClientConfigurations",
          "The arm's block of client settings: five 20-byte texts, numeric settings and up to "
          "20 stored positions (stored_position_count of them travel).",
          true};
}
template <class Io>
void Visit(Io& io, Fields<ClientConfigurations>) {
  using Record = ClientConfigurations;
  TARSEL_FIELD(Text1, text1);
  TARSEL_FIELD(Text2, text2);
  TARSEL_FIELD(Text3, text3);
  TARSEL_FIELD(Text4, text4);
  TARSEL_FIELD(Text5, text5);
  TARSEL_FIELD(IntValue1, int_value1);
  TARSEL_FIELD(FloatValue1, float_value1);
  TARSEL_FIELD(FloatValue2, float_value2);
  TARSEL_FIELD(FloatValue3, float_value3);
  TARSEL_FIELD(FloatValue4, float_value4);
  TARSEL_FIELD(FloatValue5, float_value5);
  TARSEL_FIELD(FloatValue6, float_value6);
  TARSEL_FIELD(FloatValue7, float_value7);
  TARSEL_FIELD(IntValue2, int_value2);
  TARSEL_FIELD(FloatValue8, float_value8);
  TARSEL_FIELD(StoredPositionCount, stored_position_count);
  io.Counted("StoredPositions", "stored_positions", &Record::StoredPositions, &CarriedPositions);
  TARSEL_FIELD(FloatValue9, float_value9);
  TARSEL_FIELD(IntValue3, int_value3);
  TARSEL_FIELD(FloatValue10, float_value10);
  TARSEL_FIELD(IntValue4, int_value4);
  TARSEL_FIELD(IntValue5, int_value5);
  TARSEL_FIELD(IntValue6, int_value6);
  io.Hidden("Reserved", "reserved", &Record::Reserved);
}

RecordInfo Describe(Fields<ControlMappingEntry>) {
  return {"ControlMappingEntry",
          "One entry of a control-mapping chart; byte_pairs and byte_groups are lists of bytes.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<ControlMappingEntry>) {
  using Record = ControlMappingEntry;
  TARSEL_FIELD(EntryValue1, entry_value1);
  TARSEL_FIELD(EntryValue2, entry_value2);
  TARSEL_FIELD(BytePairs, byte_pairs);
  TARSEL_FIELD(ByteGroups, byte_groups);
}

RecordInfo Describe(Fields<ControlMapping>) {
  return {"ControlMapping", "One control-mapping chart.", false};
}
template <class Io>
void Visit(Io& io, Fields<ControlMapping>) {
  using Record = ControlMapping;
  TARSEL_FIELD(MappingValue1, mapping_value1);
  TARSEL_FIELD(MappingValue2, mapping_value2);
  TARSEL_FIELD(MappingValue3, mapping_value3);
  TARSEL_FIELD(MappingValue4, mapping_value4);
  TARSEL_FIELD(MappingValue5, mapping_value5);
  TARSEL_FIELD(FirstEntries, first_entries);
  TARSEL_FIELD(SecondEntries, second_entries);
}

RecordInfo Describe(Fields<ControlMappingCharts>) {
  return {"ControlMappingCharts",
          "The arm's six control-mapping charts. The arm never reports charts_value1 or an "
          "entry's entry_value2: a read leaves them as they were.",
          true};
}
template <class Io>
void Visit(Io& io, Fields<ControlMappingCharts>) {
  using Record = ControlMappingCharts;
  TARSEL_FIELD(ChartsValue1, charts_value1);
  TARSEL_FIELD(ChartsValue2, charts_value2);
  TARSEL_FIELD(Mappings, mappings);
}

RecordInfo Describe(Fields<Zone>) {
  return {"Zone", "One protection zone: eight points and nine parameters.", false};
}
template <class Io>
void Visit(Io& io, Fields<Zone>) {
  using Record = Zone;
  TARSEL_FIELD(ZoneValue1, zone_value1);
  TARSEL_FIELD(ZoneValue2, zone_value2);
  TARSEL_FIELD(ZoneValue3, zone_value3);
  TARSEL_FIELD(ZoneValue4, zone_value4);
  TARSEL_FIELD(Points, points);
  TARSEL_FIELD(Parameters, parameters);
  TARSEL_FIELD(ZoneValue5, zone_value5);
}

RecordInfo Describe(Fields<ZoneList>) {
  return {"ZoneList", "The arm's ten protection zones (all ten always travel).", true};
}
template <class Io>
void Visit(Io& io, Fields<ZoneList>) {
  using Record = ZoneList;
  TARSEL_FIELD(ListValue1, list_value1);
  TARSEL_FIELD(ListValue2, list_value2);
  TARSEL_FIELD(Zones, zones);
}

// --- Status --------------------------------------------------------------------------

RecordInfo Describe(Fields<GeneralInformations>) {
  return {"GeneralInformations",
          "The arm's large status block: scalar values, four stored positions, and per-actuator "
          "and per-finger arrays.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<GeneralInformations>) {
  using Record = GeneralInformations;
  TARSEL_FIELD(DoubleValue1, double_value1);
  TARSEL_FIELD(DoubleValue2, double_value2);
  TARSEL_FIELD(UIntValue1, uint_value1);
  TARSEL_FIELD(UIntValue2, uint_value2);
  TARSEL_FIELD(FloatValue1, float_value1);
  TARSEL_FIELD(FloatValue2, float_value2);
  TARSEL_FIELD(FloatValue3, float_value3);
  TARSEL_FIELD(FloatValue4, float_value4);
  TARSEL_FIELD(FloatValue5, float_value5);
  TARSEL_FIELD(FloatValue6, float_value6);
  TARSEL_FIELD(FloatValue7, float_value7);
  TARSEL_FIELD(FloatValue8, float_value8);
  TARSEL_FIELD(FloatValue9, float_value9);
  TARSEL_FIELD(FloatValue10, float_value10);
  TARSEL_FIELD(FloatValue11, float_value11);
  TARSEL_FIELD(FloatValue12, float_value12);
  TARSEL_FIELD(UIntValue3, uint_value3);
  TARSEL_FIELD(UIntValue4, uint_value4);
  TARSEL_FIELD(UShortValue1, ushort_value1);
  TARSEL_FIELD(UShortValue2, ushort_value2);
  TARSEL_FIELD(UShortValue3, ushort_value3);
  TARSEL_FIELD(UShortValue4, ushort_value4);
  TARSEL_FIELD(UShortValue5, ushort_value5);
  TARSEL_FIELD(UShortValue6, ushort_value6);
  TARSEL_FIELD(UShortValue7, ushort_value7);
  TARSEL_FIELD(UShortValue8, ushort_value8);
  TARSEL_FIELD(UShortValue9, ushort_value9);
  TARSEL_FIELD(UShortValue10, ushort_value10);
  TARSEL_FIELD(UShortValue11, ushort_value11);
  TARSEL_FIELD(UShortValue12, ushort_value12);
  TARSEL_FIELD(UIntValue5, uint_value5);
  TARSEL_FIELD(UIntValue6, uint_value6);
  TARSEL_FIELD(UIntValue7, uint_value7);
  TARSEL_FIELD(UIntValue8, uint_value8);
  TARSEL_FIELD(UIntValue9, uint_value9);
  TARSEL_FIELD(UIntValue10, uint_value10);
  TARSEL_FIELD(UIntValue11, uint_value11);
  TARSEL_FIELD(UIntValue12, uint_value12);
  TARSEL_FIELD(UIntValue13, uint_value13);
  TARSEL_FIELD(UIntValue14, uint_value14);
  TARSEL_FIELD(UIntValue15, uint_value15);
  TARSEL_FIELD(Position1, position1);
  TARSEL_FIELD(Position2, position2);
  TARSEL_FIELD(Position3, position3);
  TARSEL_FIELD(Position4, position4);
  TARSEL_FIELD(FloatValue13, float_value13);
  TARSEL_FIELD(FloatValue14, float_value14);
  TARSEL_FIELD(FloatValue15, float_value15);
  TARSEL_FIELD(FloatValue16, float_value16);
  TARSEL_FIELD(FloatValue17, float_value17);
  TARSEL_FIELD(FloatValue18, float_value18);
  TARSEL_FIELD(FloatValue19, float_value19);
  TARSEL_FIELD(FloatValue20, float_value20);
  TARSEL_FIELD(FloatValue21, float_value21);
  TARSEL_FIELD(FloatArray1, float_array1);
  TARSEL_FIELD(FloatArray2, float_array2);
  TARSEL_FIELD(ShortArray, short_array);
  TARSEL_FIELD(FloatValue22, float_value22);
  TARSEL_FIELD(FloatValue23, float_value23);
  TARSEL_FIELD(FloatValue24, float_value24);
  TARSEL_FIELD(FloatValue25, float_value25);
  TARSEL_FIELD(FloatValue26, float_value26);
  TARSEL_FIELD(FloatValue27, float_value27);
  TARSEL_FIELD(UIntArray1, uint_array1);
  TARSEL_FIELD(UIntArray2, uint_array2);
  TARSEL_FIELD(FloatArray3, float_array3);
  TARSEL_FIELD(FloatArray4, float_array4);
  TARSEL_FIELD(FloatArray5, float_array5);
  TARSEL_FIELD(IntArray1, int_array1);
  TARSEL_FIELD(IntArray2, int_array2);
  TARSEL_FIELD(IntValue1, int_value1);
  TARSEL_FIELD(DoubleValue3, double_value3);
  TARSEL_FIELD(DoubleValue4, double_value4);
}

RecordInfo Describe(Fields<Finger>) {
  return {"Finger", "One finger's status block.", false};
}
template <class Io>
void Visit(Io& io, Fields<Finger>) {
  using Record = Finger;
  TARSEL_FIELD(Text, text);
  TARSEL_FIELD(FloatValue1, float_value1);
  TARSEL_FIELD(FloatValue2, float_value2);
  TARSEL_FIELD(FloatValue3, float_value3);
  TARSEL_FIELD(FloatValue4, float_value4);
  TARSEL_FIELD(FloatValue5, float_value5);
  TARSEL_FIELD(FloatValue6, float_value6);
  TARSEL_FIELD(FloatValue7, float_value7);
  TARSEL_FIELD(FloatValue8, float_value8);
  TARSEL_FIELD(IntValue1, int_value1);
  TARSEL_FIELD(IntValue2, int_value2);
  TARSEL_FIELD(FloatValue9, float_value9);
  TARSEL_FIELD(FloatValue10, float_value10);
  TARSEL_FIELD(FloatValue11, float_value11);
  TARSEL_FIELD(FloatValue12, float_value12);
  TARSEL_FIELD(FloatValue13, float_value13);
  TARSEL_FIELD(FloatValue14, float_value14);
  TARSEL_FIELD(FloatValue15, float_value15);
  TARSEL_FIELD(FloatValue16, float_value16);
  TARSEL_FIELD(FloatValue17, float_value17);
  TARSEL_FIELD(FloatValue18, float_value18);
  TARSEL_FIELD(FloatValue19, float_value19);
  TARSEL_FIELD(UIntValue1, uint_value1);
  TARSEL_FIELD(UIntValue2, uint_value2);
  TARSEL_FIELD(ShortValue1, short_value1);
  TARSEL_FIELD(ShortValue2, short_value2);
  TARSEL_FIELD(ShortValue3, short_value3);
  TARSEL_FIELD(ShortValue4, short_value4);
}

RecordInfo Describe(Fields<Gripper>) {
  return {"Gripper", "The gripper's status: a text and one block per finger, finger 1 first.",
          false};
}
template <class Io>
void Visit(Io& io, Fields<Gripper>) {
  using Record = Gripper;
  TARSEL_FIELD(Text, text);
  TARSEL_FIELD(Fingers, fingers);
}

RecordInfo Describe(Fields<QuickStatus>) {
  return {"QuickStatus",
          "Fourteen status bytes: the finger flags (nonzero once a finger is initialised) and "
          "hand_type (HAND_THREE_FINGERS, 0, for three fingers; anything else, such as "
          "HAND_TWO_FINGERS, 2, for two).",
          false};
}
template <class Io>
void Visit(Io& io, Fields<QuickStatus>) {
  using Record = QuickStatus;
  TARSEL_FIELD(Finger1Initialized, finger1_initialized);
  TARSEL_FIELD(Finger2Initialized, finger2_initialized);
  TARSEL_FIELD(Finger3Initialized, finger3_initialized);
  TARSEL_FIELD(StatusByte3, status_byte3);
  TARSEL_FIELD(StatusByte4, status_byte4);
  TARSEL_FIELD(StatusByte5, status_byte5);
  TARSEL_FIELD(StatusByte6, status_byte6);
  TARSEL_FIELD(StatusByte7, status_byte7);
  TARSEL_FIELD(StatusByte8, status_byte8);
  TARSEL_FIELD(StatusByte9, status_byte9);
  TARSEL_FIELD(StatusByte10, status_byte10);
  TARSEL_FIELD(HandType, hand_type);
  TARSEL_FIELD(StatusByte12, status_byte12);
  TARSEL_FIELD(StatusByte13, status_byte13);
}

RecordInfo Describe(Fields<ForcesInfo>) {
  return {"ForcesInfo", "Twelve force values, copied bit for bit.", false};
}
template <class Io>
void Visit(Io& io, Fields<ForcesInfo>) {
  using Record = ForcesInfo;
  TARSEL_FIELD(Force1, force1);
  TARSEL_FIELD(Force2, force2);
  TARSEL_FIELD(Force3, force3);
  TARSEL_FIELD(Force4, force4);
  TARSEL_FIELD(Force5, force5);
  TARSEL_FIELD(Force6, force6);
  TARSEL_FIELD(Force7, force7);
  TARSEL_FIELD(Force8, force8);
  TARSEL_FIELD(Force9, force9);
  TARSEL_FIELD(Force10, force10);
  TARSEL_FIELD(Force11, force11);
  TARSEL_FIELD(Force12, force12);
}

RecordInfo Describe(Fields<SensorsInfo>) {
  return {"SensorsInfo", "Fourteen sensor values.", false};
}
template <class Io>
void Visit(Io& io, Fields<SensorsInfo>) {
  using Record = SensorsInfo;
  TARSEL_FIELD(Sensor1, sensor1);
  TARSEL_FIELD(Sensor2, sensor2);
  TARSEL_FIELD(Sensor3, sensor3);
  TARSEL_FIELD(Sensor4, sensor4);
  TARSEL_FIELD(Sensor5, sensor5);
  TARSEL_FIELD(Sensor6, sensor6);
  TARSEL_FIELD(Sensor7, sensor7);
  TARSEL_FIELD(Sensor8, sensor8);
  TARSEL_FIELD(Sensor9, sensor9);
  TARSEL_FIELD(Sensor10, sensor10);
  TARSEL_FIELD(Sensor11, sensor11);
  TARSEL_FIELD(Sensor12, sensor12);
  TARSEL_FIELD(Sensor13, sensor13);
  TARSEL_FIELD(Sensor14, sensor14);
}

RecordInfo Describe(Fields<SystemError>) {
  return {"SystemError", "One entry of the arm's error log.", false};
}
template <class Io>
void Visit(Io& io, Fields<SystemError>) {
  using Record = SystemError;
  TARSEL_FIELD(UIntValue1, uint_value1);
  TARSEL_FIELD(IntValue1, int_value1);
  TARSEL_FIELD(IntValue2, int_value2);
  TARSEL_FIELD(IntValue3, int_value3);
  TARSEL_FIELD(UIntValue2, uint_value2);
  TARSEL_FIELD(Flags, flags);
  TARSEL_FIELD(IntValue4, int_value4);
  TARSEL_FIELD(IntValue5, int_value5);
  TARSEL_FIELD(UIntArray, uint_array);
}

RecordInfo Describe(Fields<PeripheralInfo>) {
  return {"PeripheralInfo", "One entry of the peripheral inventory.", false};
}
template <class Io>
void Visit(Io& io, Fields<PeripheralInfo>) {
  using Record = PeripheralInfo;
  TARSEL_FIELD(UIntValue1, uint_value1);
  TARSEL_FIELD(UIntValue2, uint_value2);
  TARSEL_FIELD(UIntValue3, uint_value3);
  TARSEL_FIELD(UIntValue4, uint_value4);
  TARSEL_FIELD(UIntValue5, uint_value5);
}

// --- Records of the C++ interface ----------------------------------------------------

RecordInfo Describe(Fields<SpasmFilter>) {
  return {"SpasmFilter", "The spasm filter: its four values and its setting.", false};
}
template <class Io>
void Visit(Io& io, Fields<SpasmFilter>) {
  using Record = SpasmFilter;
  io("values", "values", &Record::values);
  io("setting", "setting", &Record::setting);
}

RecordInfo Describe(Fields<ArmInfo>) {
  return {"ArmInfo",
          "One arm the library can reach (from list_arms()). path is its stable identity: "
          "\"usb:<bus>-<ports>\" or \"sim:<n>\".",
          false};
}
template <class Io>
void Visit(Io& io, Fields<ArmInfo>) {
  using Record = ArmInfo;
  io("path", "path", &Record::path);
  io("vendor_id", "vendor_id", &Record::vendor_id);
  io("product_id", "product_id", &Record::product_id);
  io("bus", "bus", &Record::bus);
  io("address", "address", &Record::address);
  io("serial", "serial", &Record::serial);
  io("product", "product", &Record::product);
  io("simulated", "simulated", &Record::simulated);
}

#undef TARSEL_FIELD

void BindRecords(py::module_& m) {
  // Nested records first, so that signatures name them.
  BindSequence(BindRecord<AngularInfo>(m));
  BindSequence(BindRecord<CartesianInfo>(m));
  BindSequence(BindRecord<FingersPosition>(m));
  BindRecord<AngularPosition>(m);
  BindRecord<CartesianPosition>(m);
  BindRecord<AngularAcceleration>(m);
  BindRecord<UserPosition>(m);
  BindRecord<Limitation>(m);
  BindRecord<TrajectoryPoint>(m);
  BindRecord<JoystickCommand>(m);
  BindRecord<TrajectoryFIFO>(m);
  BindRecord<SingularityVector>(m);
  BindRecord<ClientConfigurations>(m);
  BindRecord<ControlMappingEntry>(m);
  BindRecord<ControlMapping>(m);
  BindRecord<ControlMappingCharts>(m);
  BindRecord<Zone>(m);
  BindRecord<ZoneList>(m);
  BindRecord<GeneralInformations>(m);
  BindRecord<Finger>(m);
  BindRecord<Gripper>(m);
  BindRecord<QuickStatus>(m);
  BindRecord<ForcesInfo>(m);
  BindRecord<SensorsInfo>(m);
  BindRecord<SystemError>(m);
  BindRecord<PeripheralInfo>(m);
  BindRecord<SpasmFilter>(m);
  BindRecord<ArmInfo>(m);
}

}  // namespace tarsel::python
