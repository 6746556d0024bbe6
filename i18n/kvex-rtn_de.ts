<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>KVEXPanels</name>
    <message>
        <source>K-VEX-RTN panels</source>
        <translation>K-VEX-RTN-Panels</translation>
    </message>
    <message>
        <source>K-VEX-RTN-Rodaz</source>
        <translation>K-VEX-RTN-Rodaz</translation>
    </message>
    <message>
        <source>Supplier, product name and version</source>
        <translation>Lieferant, Produktname und Version</translation>
    </message>
    <message>
        <source>Header</source>
        <translation>Kopfzeile</translation>
    </message>
    <message>
        <source>Supplier logo</source>
        <translation>Lieferantenlogo</translation>
    </message>
    <message>
        <source>Logo</source>
        <translation>Logo</translation>
    </message>
    <message>
        <source>Connection</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>&amp;Port</source>
        <translation>&amp;Port</translation>
    </message>
    <message>
        <source>Serial port the sensor is connected to</source>
        <translation>Serieller Port, an dem der Sensor angeschlossen ist</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Connect again to the device that was unplugged and is back</source>
        <translation>Erneut mit dem abgezogenen und wieder angesteckten Gerät verbinden</translation>
    </message>
    <message>
        <source>Reconnect</source>
        <translation>Neu verbinden</translation>
    </message>
    <message>
        <source>Show the frames sent to and received from the sensor</source>
        <translation>Die an den Sensor gesendeten und von ihm empfangenen Telegramme anzeigen</translation>
    </message>
    <message>
        <source>Traffic…</source>
        <translation>Datenverkehr…</translation>
    </message>
    <message>
        <source>Parameter set</source>
        <translation>Parametersatz</translation>
    </message>
    <message>
        <source>Po&amp;wer</source>
        <translation>Lic&amp;htleistung</translation>
    </message>
    <message>
        <source>Parameter word 0 (power), 0 to 1000</source>
        <translation>Parameterwort 0 (Lichtleistung), 0 bis 1000</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Lichtleistung</translation>
    </message>
    <message>
        <source>P-mo&amp;de</source>
        <translation>P-Mo&amp;dus</translation>
    </message>
    <message>
        <source>Parameter word 1 (P-mode), 0 (off) or 1 (on)</source>
        <translation>Parameterwort 1 (P-Modus), 0 (aus) oder 1 (ein)</translation>
    </message>
    <message>
        <source>P-mode</source>
        <translation>P-Modus</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>Video t&amp;hreshold</source>
        <translation>Video&amp;schwelle</translation>
    </message>
    <message>
        <source>Parameter word 2 (video threshold), 50 to 950</source>
        <translation>Parameterwort 2 (Videoschwelle), 50 bis 950</translation>
    </message>
    <message>
        <source>Video threshold</source>
        <translation>Videoschwelle</translation>
    </message>
    <message>
        <source>Polarit&amp;y</source>
        <translation>Polarit&amp;ät</translation>
    </message>
    <message>
        <source>Parameter word 4 (polarity), 0 or 1</source>
        <translation>Parameterwort 4 (Polarität), 0 oder 1</translation>
    </message>
    <message>
        <source>Polarity</source>
        <translation>Polarität</translation>
    </message>
    <message>
        <source>Eva&amp;luation</source>
        <translation>Aus&amp;wertung</translation>
    </message>
    <message>
        <source>Parameter word 5 (evaluation mode), 0 to 4</source>
        <translation>Parameterwort 5 (Auswertemodus), 0 bis 4</translation>
    </message>
    <message>
        <source>Evaluation</source>
        <translation>Auswertung</translation>
    </message>
    <message>
        <source>0 - left edge</source>
        <translation>0 - linke Kante</translation>
    </message>
    <message>
        <source>1 - right edge</source>
        <translation>1 - rechte Kante</translation>
    </message>
    <message>
        <source>2 - centre</source>
        <translation>2 - Mitte</translation>
    </message>
    <message>
        <source>3 - centre</source>
        <translation>3 - Mitte</translation>
    </message>
    <message>
        <source>4 - centre</source>
        <translation>4 - Mitte</translation>
    </message>
    <message>
        <source>Window le&amp;ft</source>
        <translation>Fenster &amp;links</translation>
    </message>
    <message>
        <source>Parameter word 6 (left end of the evaluation window), 1 to the sensor&apos;s sub-pixel count</source>
        <translation>Parameterwort 6 (linkes Ende des Auswertefensters), 1 bis zur Subpixelzahl des Sensors</translation>
    </message>
    <message>
        <source>Window left</source>
        <translation>Fenster links</translation>
    </message>
    <message>
        <source>Wi&amp;ndow right</source>
        <translation>Fenster r&amp;echts</translation>
    </message>
    <message>
        <source>Parameter word 7 (right end of the evaluation window), 1 to the sensor&apos;s sub-pixel count</source>
        <translation>Parameterwort 7 (rechtes Ende des Auswertefensters), 1 bis zur Subpixelzahl des Sensors</translation>
    </message>
    <message>
        <source>Window right</source>
        <translation>Fenster rechts</translation>
    </message>
    <message>
        <source>S&amp;et-point</source>
        <translation>So&amp;llwert</translation>
    </message>
    <message>
        <source>Parameter word 8 (set-point), 0 to 65535</source>
        <translation>Parameterwort 8 (Sollwert), 0 bis 65535</translation>
    </message>
    <message>
        <source>Set-point</source>
        <translation>Sollwert</translation>
    </message>
    <message>
        <source>Toleran&amp;ce</source>
        <translation>Toleran&amp;z</translation>
    </message>
    <message>
        <source>Parameter word 9 (tolerance around the set-point), 1 to 65535</source>
        <translation>Parameterwort 9 (Toleranz um den Sollwert), 1 bis 65535</translation>
    </message>
    <message>
        <source>Tolerance</source>
        <translation>Toleranz</translation>
    </message>
    <message>
        <source>Oper&amp;ating mode</source>
        <translation>Betriebs&amp;art</translation>
    </message>
    <message>
        <source>Parameter word 10 (operating mode), 0 (LO-GAIN) or 1 (HI-GAIN)</source>
        <translation>Parameterwort 10 (Betriebsart), 0 (LO-GAIN) oder 1 (HI-GAIN)</translation>
    </message>
    <message>
        <source>Operating mode</source>
        <translation>Betriebsart</translation>
    </message>
    <message>
        <source>LO-GAIN</source>
        <translation>LO-GAIN</translation>
    </message>
    <message>
        <source>HI-GAIN</source>
        <translation>HI-GAIN</translation>
    </message>
    <message>
        <source>Hardware setting</source>
        <translation>Hardware-Einstellung</translation>
    </message>
    <message>
        <source>Parameter word 11 (hardware setting), 0 to 3</source>
        <translation>Parameterwort 11 (Hardware-Einstellung), 0 bis 3</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>Average</source>
        <translation>Mittelung</translation>
    </message>
    <message>
        <source>Parameter word 14 (averaging), 0 to 1024</source>
        <translation>Parameterwort 14 (Mittelung), 0 bis 1024</translation>
    </message>
    <message>
        <source>Au&amp;x. value</source>
        <translation>Hil&amp;fswert</translation>
    </message>
    <message>
        <source>Auxiliary value, 0 to 65535</source>
        <translation>Hilfswert, 0 bis 65535</translation>
    </message>
    <message>
        <source>Aux. value</source>
        <translation>Hilfswert</translation>
    </message>
    <message>
        <source>Target</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>Target: the sensor&apos;s RAM</source>
        <translation>Ziel: das RAM des Sensors</translation>
    </message>
    <message>
        <source>RAM</source>
        <translation>RAM</translation>
    </message>
    <message>
        <source>Target: the sensor&apos;s EEPROM</source>
        <translation>Ziel: das EEPROM des Sensors</translation>
    </message>
    <message>
        <source>EEPROM</source>
        <translation>EEPROM</translation>
    </message>
    <message>
        <source>Target: a parameter file</source>
        <translation>Ziel: eine Parameterdatei</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Read the parameter set from the chosen target (RAM, EEPROM or file)</source>
        <translation>Den Parametersatz aus dem gewählten Ziel lesen (RAM, EEPROM oder Datei)</translation>
    </message>
    <message>
        <source>GET</source>
        <translation>GET</translation>
    </message>
    <message>
        <source>&amp;GET</source>
        <translation>&amp;GET</translation>
    </message>
    <message>
        <source>Write the panel&apos;s parameter set to the chosen target</source>
        <translation>Den Parametersatz der Oberfläche in das gewählte Ziel schreiben</translation>
    </message>
    <message>
        <source>SEND</source>
        <translation>SEND</translation>
    </message>
    <message>
        <source>&amp;SEND</source>
        <translation>&amp;SEND</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>Let the sensor take the current measured value as its set-point, then read the set back</source>
        <translation>Den aktuellen Messwert als Sollwert einlernen und den Parametersatz zurücklesen</translation>
    </message>
    <message>
        <source>Teach</source>
        <translation>Einlernen</translation>
    </message>
    <message>
        <source>&amp;Teach</source>
        <translation>&amp;Einlernen</translation>
    </message>
    <message>
        <source>Reset the analogue output&apos;s stored maximum and minimum</source>
        <translation>Gespeichertes Maximum und Minimum des Analogausgangs zurücksetzen</translation>
    </message>
    <message>
        <source>Reset max/min</source>
        <translation>Max/Min zurücksetzen</translation>
    </message>
    <message>
        <source>Reset max/&amp;min</source>
        <translation>Max/&amp;Min zurücksetzen</translation>
    </message>
    <message>
        <source>Show or hide the sensor description</source>
        <translation>Sensorbeschreibung ein- oder ausblenden</translation>
    </message>
    <message>
        <source>Sensor info</source>
        <translation>Sensorinfo</translation>
    </message>
    <message>
        <source>Sensor &amp;info</source>
        <translation>Sensor&amp;info</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>Sp&amp;rache</translation>
    </message>
    <message>
        <source>The program&apos;s language from its next start: the system&apos;s, German or English</source>
        <translation>Sprache des Programms ab dem nächsten Start: die des Systems, Deutsch oder Englisch</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Sprache</translation>
    </message>
    <message>
        <source>System language</source>
        <translation>Systemsprache</translation>
    </message>
    <message>
        <source>Read-outs</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Left edge</source>
        <translation>Linke Kante</translation>
    </message>
    <message>
        <source>Left edge position reported by the sensor</source>
        <translation>Position der linken Kante laut Sensor</translation>
    </message>
    <message>
        <source>Right edge</source>
        <translation>Rechte Kante</translation>
    </message>
    <message>
        <source>Right edge position reported by the sensor</source>
        <translation>Position der rechten Kante laut Sensor</translation>
    </message>
    <message>
        <source>Measured value</source>
        <translation>Messwert</translation>
    </message>
    <message>
        <source>Measured value reported by the sensor</source>
        <translation>Messwert laut Sensor</translation>
    </message>
    <message>
        <source>Value µm</source>
        <translation>Messwert µm</translation>
    </message>
    <message>
        <source>Measured value in micrometres; a dash when the sensor type names no pixel pitch</source>
        <translation>Messwert in Mikrometern; ein Strich, wenn der Sensortyp keinen Pixelabstand nennt</translation>
    </message>
    <message>
        <source>Left max</source>
        <translation>Links max</translation>
    </message>
    <message>
        <source>Left maximum reported by the sensor</source>
        <translation>Linkes Maximum laut Sensor</translation>
    </message>
    <message>
        <source>Right max</source>
        <translation>Rechts max</translation>
    </message>
    <message>
        <source>Right maximum reported by the sensor</source>
        <translation>Rechtes Maximum laut Sensor</translation>
    </message>
    <message>
        <source>Tolerance reported by the sensor</source>
        <translation>Toleranz laut Sensor</translation>
    </message>
    <message>
        <source>Analogue output</source>
        <translation>Analogausgang</translation>
    </message>
    <message>
        <source>Analogue output mode and the output&apos;s stored maximum and minimum</source>
        <translation>Modus des Analogausgangs und sein gespeichertes Maximum und Minimum</translation>
    </message>
    <message>
        <source>Analog&amp;ue mode</source>
        <translation>Analog&amp;modus</translation>
    </message>
    <message>
        <source>Parameter word 3 (analogue output mode), 0 to 7</source>
        <translation>Parameterwort 3 (Modus des Analogausgangs), 0 bis 7</translation>
    </message>
    <message>
        <source>Analogue mode</source>
        <translation>Analogmodus</translation>
    </message>
    <message>
        <source>0 - value</source>
        <translation>0 - Messwert</translation>
    </message>
    <message>
        <source>1 - value</source>
        <translation>1 - Messwert</translation>
    </message>
    <message>
        <source>2 - max</source>
        <translation>2 - Max</translation>
    </message>
    <message>
        <source>3 - min</source>
        <translation>3 - Min</translation>
    </message>
    <message>
        <source>4 - value</source>
        <translation>4 - Messwert</translation>
    </message>
    <message>
        <source>5 - max</source>
        <translation>5 - Max</translation>
    </message>
    <message>
        <source>6 - min</source>
        <translation>6 - Min</translation>
    </message>
    <message>
        <source>7 - value</source>
        <translation>7 - Messwert</translation>
    </message>
    <message>
        <source>Analogue max</source>
        <translation>Analog max</translation>
    </message>
    <message>
        <source>Stored maximum of the analogue output</source>
        <translation>Gespeichertes Maximum des Analogausgangs</translation>
    </message>
    <message>
        <source>Analogue min</source>
        <translation>Analog min</translation>
    </message>
    <message>
        <source>Stored minimum of the analogue output</source>
        <translation>Gespeichertes Minimum des Analogausgangs</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Messwert</translation>
    </message>
    <message>
        <source>Current measured value reported by the sensor</source>
        <translation>Aktueller Messwert laut Sensor</translation>
    </message>
    <message>
        <source>Edges, evaluation window and tolerance (sub-pixels)</source>
        <translation>Kanten, Auswertefenster und Toleranz (Subpixel)</translation>
    </message>
    <message>
        <source>Bar graph of the current measured value</source>
        <translation>Balkendiagramm des aktuellen Messwerts</translation>
    </message>
    <message>
        <source>Bar graph</source>
        <translation>Balkendiagramm</translation>
    </message>
    <message>
        <source>position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>level</source>
        <translation>Pegel</translation>
    </message>
    <message>
        <source>Position (sub-pixels)</source>
        <translation>Position (Subpixel)</translation>
    </message>
    <message>
        <source>Video level</source>
        <translation>Videopegel</translation>
    </message>
    <message>
        <source>CCD line (video mode) with the video threshold</source>
        <translation>CCD-Zeile (Videobetrieb) mit der Videoschwelle</translation>
    </message>
    <message>
        <source>Video curve</source>
        <translation>Videokurve</translation>
    </message>
    <message>
        <source>sample</source>
        <translation>Messung</translation>
    </message>
    <message>
        <source>value</source>
        <translation>Messwert</translation>
    </message>
    <message>
        <source>Samples</source>
        <translation>Messungen</translation>
    </message>
    <message>
        <source>Measured value over time (run mode)</source>
        <translation>Messwert über der Zeit (Messbetrieb)</translation>
    </message>
    <message>
        <source>Strip chart</source>
        <translation>Linienschreiber</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>Statistik</translation>
    </message>
    <message>
        <source>Samples taken in this run</source>
        <translation>Messungen in diesem Lauf</translation>
    </message>
    <message>
        <source>Mean</source>
        <translation>Mittelwert</translation>
    </message>
    <message>
        <source>Mean of the measured value (units, and µm where the sensor&apos;s pitch is known)</source>
        <translation>Mittelwert des Messwerts (Sensoreinheiten, und µm, wenn der Pixelabstand des Sensors bekannt ist)</translation>
    </message>
    <message>
        <source>Std. dev.</source>
        <translation>Std.-abw.</translation>
    </message>
    <message>
        <source>Standard deviation σ of the measured value</source>
        <translation>Standardabweichung σ des Messwerts</translation>
    </message>
    <message>
        <source>Minimum</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>Smallest measured value</source>
        <translation>Kleinster Messwert</translation>
    </message>
    <message>
        <source>Maximum</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>Largest measured value</source>
        <translation>Größter Messwert</translation>
    </message>
    <message>
        <source>In tolerance</source>
        <translation>In Toleranz</translation>
    </message>
    <message>
        <source>Share of the samples inside the green tolerance window</source>
        <translation>Anteil der Messungen im grünen Toleranzfenster</translation>
    </message>
    <message>
        <source>Cp</source>
        <translation>Cp</translation>
    </message>
    <message>
        <source>Process capability (USL − LSL) / 6σ</source>
        <translation>Prozessfähigkeit (OSG − USG) / 6σ</translation>
    </message>
    <message>
        <source>Cpk</source>
        <translation>Cpk</translation>
    </message>
    <message>
        <source>Process capability min(USL − mean, mean − LSL) / 3σ</source>
        <translation>Prozessfähigkeit min(OSG − Mittelwert, Mittelwert − USG) / 3σ</translation>
    </message>
    <message>
        <source>Histogram of the measured value in this run, with the tolerance limits (dashed) and the set-point</source>
        <translation>Histogramm des Messwerts in diesem Lauf, mit den Toleranzgrenzen (gestrichelt) und dem Sollwert</translation>
    </message>
    <message>
        <source>Histogram</source>
        <translation>Histogramm</translation>
    </message>
    <message>
        <source>Start the statistics and the histogram afresh</source>
        <translation>Statistik und Histogramm neu beginnen</translation>
    </message>
    <message>
        <source>Reset statistics</source>
        <translation>Statistik zurücksetzen</translation>
    </message>
    <message>
        <source>Write a commissioning report (PDF): sensor, parameter set, graphs and statistics</source>
        <translation>Inbetriebnahmeprotokoll (PDF) schreiben: Sensor, Parametersatz, Diagramme und Statistik</translation>
    </message>
    <message>
        <source>Report</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>Report…</source>
        <translation>Protokoll…</translation>
    </message>
    <message>
        <source>Start run mode: live measurement with bar graph and strip chart</source>
        <translation>Messbetrieb starten: laufende Messung mit Balkendiagramm und Linienschreiber</translation>
    </message>
    <message>
        <source>Run</source>
        <translation>Messen</translation>
    </message>
    <message>
        <source>&amp;Run</source>
        <translation>&amp;Messen</translation>
    </message>
    <message>
        <source>Start video mode: live CCD line with threshold</source>
        <translation>Videobetrieb starten: laufende CCD-Zeile mit Videoschwelle</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>&amp;Video</source>
        <translation>&amp;Video</translation>
    </message>
    <message>
        <source>Stop run or video mode</source>
        <translation>Mess- oder Videobetrieb beenden</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>St&amp;op</source>
        <translation>St&amp;opp</translation>
    </message>
    <message>
        <source>Zoom the strip chart&apos;s y axis around the set-point; also fits graphs the mouse has zoomed</source>
        <translation>Y-Achse des Linienschreibers um den Sollwert zoomen; passt auch mit der Maus gezoomte Diagramme wieder ein</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>&amp;Zoom</source>
        <translation>&amp;Zoom</translation>
    </message>
    <message>
        <source>Record every run-mode cycle to a CSV file; Stop ends the file</source>
        <translation>Jeden Messzyklus in eine CSV-Datei aufzeichnen; Stopp schließt die Datei</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufzeichnen</translation>
    </message>
    <message>
        <source>Record…</source>
        <translation>Aufzeichnen…</translation>
    </message>
    <message>
        <source>Save the video line as CSV and the video graph as PNG and PDF</source>
        <translation>Videozeile als CSV und das Videodiagramm als PNG und PDF speichern</translation>
    </message>
    <message>
        <source>Export line</source>
        <translation>Zeile exportieren</translation>
    </message>
    <message>
        <source>Export line…</source>
        <translation>Zeile…</translation>
    </message>
    <message>
        <source>Save the strip chart&apos;s points as CSV and its picture as PNG and PDF</source>
        <translation>Punkte des Linienschreibers als CSV und sein Bild als PNG und PDF speichern</translation>
    </message>
    <message>
        <source>Export chart</source>
        <translation>Schreiber exportieren</translation>
    </message>
    <message>
        <source>Export chart…</source>
        <translation>Schreiber…</translation>
    </message>
    <message>
        <source>Compare two parameter sets: panel, sensor RAM, sensor EEPROM or a file</source>
        <translation>Zwei Parametersätze vergleichen: Oberfläche, Sensor-RAM, Sensor-EEPROM oder eine Datei</translation>
    </message>
    <message>
        <source>Compare</source>
        <translation>Vergleichen</translation>
    </message>
    <message>
        <source>Compare…</source>
        <translation>Vergleichen…</translation>
    </message>
    <message>
        <source>Rows recorded to the CSV file</source>
        <translation>In die CSV-Datei aufgezeichnete Zeilen</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Aufzeichnung</translation>
    </message>
    <message>
        <source>Status messages</source>
        <translation>Statusmeldungen</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>InitVars</source>
        <translation>Initialisierung</translation>
    </message>
    <message>
        <source>Sensor information</source>
        <translation>Sensorinformation</translation>
    </message>
    <message>
        <source>Description reported by the sensor</source>
        <translation>Beschreibung laut Sensor</translation>
    </message>
    <message>
        <source>CCD-SENSOR:
</source>
        <translation>CCD-SENSOR:
</translation>
    </message>
    <message>
        <source>The USB adapter holds received bytes for its latency timer</source>
        <translation>Der USB-Adapter hält empfangene Bytes für die Dauer seines Latenz-Timers zurück</translation>
    </message>
    <message>
        <source>Adapter latency</source>
        <translation>Adapterlatenz</translation>
    </message>
    <message>
        <source>⚠</source>
        <translation>⚠</translation>
    </message>
    <message>
        <source>Ask a USB adapter&apos;s driver to pass each answer on at once; takes effect at the next connect</source>
        <translation>Den Treiber eines USB-Adapters bitten, jede Antwort sofort weiterzugeben; gilt ab dem nächsten Verbinden</translation>
    </message>
    <message>
        <source>Low latency</source>
        <translation>Geringe Latenz</translation>
    </message>
    <message>
        <source>Check the chosen port: device, access, other programs, adapter, line and sensor</source>
        <translation>Gewählten Port prüfen: Gerät, Zugriff, andere Programme, Adapter, Leitung und Sensor</translation>
    </message>
    <message>
        <source>Check port…</source>
        <translation>Port prüfen…</translation>
    </message>
    <message>
        <source>Open a recording (a CSV file or a folder of them) in a window of its own: chart, statistics, report</source>
        <translation>Eine Aufzeichnung (CSV-Datei oder ein Ordner davon) in einem eigenen Fenster öffnen: Schreiber, Statistik, Protokoll</translation>
    </message>
    <message>
        <source>Open recording</source>
        <translation>Aufzeichnung öffnen</translation>
    </message>
    <message>
        <source>Open recording…</source>
        <translation>Öffnen…</translation>
    </message>
    <message>
        <source>Signal reserve</source>
        <translation>Signalreserve</translation>
    </message>
    <message>
        <source>Signal reserve of the last video line: how far its nearer side, lit or shadow, stands from the video threshold, as a share of it (0: edges lost)</source>
        <translation>Signalreserve der letzten Videozeile: wie weit ihre nähere Seite, hell oder Schatten, von der Videoschwelle entfernt liegt, als Anteil davon (0: Kanten verloren)</translation>
    </message>
    <message>
        <source>Proposal</source>
        <translation>Vorschlag</translation>
    </message>
    <message>
        <source>Write the proposal to the sensor&apos;s RAM and measure with it for a few seconds; the sensor goes back to its words if the check fails</source>
        <translation>Den Vorschlag ins RAM des Sensors schreiben und einige Sekunden damit messen; schlägt die Prüfung fehl, erhält der Sensor seine Wörter zurück</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>Store the checked proposal in the sensor&apos;s EEPROM, after showing what changes</source>
        <translation>Den geprüften Vorschlag im EEPROM des Sensors speichern, nachdem gezeigt wurde, was sich ändert</translation>
    </message>
    <message>
        <source>Store in EEPROM…</source>
        <translation>Im EEPROM speichern…</translation>
    </message>
    <message>
        <source>Leave the sensor as it was: a proposal already in RAM is written back</source>
        <translation>Den Sensor lassen, wie er war: ein Vorschlag, der schon im RAM steht, wird zurückgeschrieben</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Verwerfen</translation>
    </message>
    <message>
        <source>Propose a video threshold and an evaluation window from the video line, with the margins they leave; Apply tries them in RAM first</source>
        <translation>Aus der Videozeile eine Videoschwelle und ein Auswertefenster vorschlagen, mit den Abständen, die sie lassen; Anwenden probiert sie zuerst im RAM</translation>
    </message>
    <message>
        <source>Propose</source>
        <translation>Vorschlag</translation>
    </message>
</context>
<context>
    <name>kvex</name>
    <message>
        <source>1: (no device)</source>
        <translation>1: (kein Gerät)</translation>
    </message>
    <message>
        <source>InitVars</source>
        <translation>Initialisierung</translation>
    </message>
    <message>
        <source>Init COM-Port ...</source>
        <translation>COM-Port wird initialisiert ...</translation>
    </message>
    <message>
        <source>The language changes at the next start of the program.</source>
        <translation>Die Sprache wechselt beim nächsten Start des Programms.</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Lichtleistung</translation>
    </message>
    <message>
        <source>P-mode</source>
        <translation>P-Modus</translation>
    </message>
    <message>
        <source>Video threshold</source>
        <translation>Videoschwelle</translation>
    </message>
    <message>
        <source>Analogue mode</source>
        <translation>Analogmodus</translation>
    </message>
    <message>
        <source>Polarity</source>
        <translation>Polarität</translation>
    </message>
    <message>
        <source>Evaluation</source>
        <translation>Auswertung</translation>
    </message>
    <message>
        <source>Window left</source>
        <translation>Fenster links</translation>
    </message>
    <message>
        <source>Window right</source>
        <translation>Fenster rechts</translation>
    </message>
    <message>
        <source>Set-point</source>
        <translation>Sollwert</translation>
    </message>
    <message>
        <source>Tolerance</source>
        <translation>Toleranz</translation>
    </message>
    <message>
        <source>Operating mode</source>
        <translation>Betriebsart</translation>
    </message>
    <message>
        <source>Hardware setting</source>
        <translation>Hardware-Einstellung</translation>
    </message>
    <message>
        <source>Word 12</source>
        <translation>Wort 12</translation>
    </message>
    <message>
        <source>Word 13</source>
        <translation>Wort 13</translation>
    </message>
    <message>
        <source>Average</source>
        <translation>Mittelung</translation>
    </message>
    <message>
        <source>Aux. value</source>
        <translation>Hilfswert</translation>
    </message>
    <message>
        <source>Against the tolerance window %1 to %2 (set-point ± tolerance)</source>
        <translation>Bezogen auf das Toleranzfenster %1 bis %2 (Sollwert ± Toleranz)</translation>
    </message>
    <message>
        <source>K-VEX-RTN commissioning report</source>
        <translation>K-VEX-RTN Inbetriebnahmeprotokoll</translation>
    </message>
    <message>
        <source>Date and time</source>
        <translation>Datum und Uhrzeit</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Sensor type</source>
        <translation>Sensortyp</translation>
    </message>
    <message>
        <source>Board</source>
        <translation>Platine</translation>
    </message>
    <message>
        <source>Pixels</source>
        <translation>Pixel</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>Programm</translation>
    </message>
    <message>
        <source>Compared with the EEPROM as read at %1; words that differ show the EEPROM&apos;s value.</source>
        <translation>Verglichen mit dem EEPROM, gelesen um %1; abweichende Wörter zeigen den Wert im EEPROM.</translation>
    </message>
    <message>
        <source>The EEPROM was not read in this session: no comparison.</source>
        <translation>Das EEPROM wurde in dieser Sitzung nicht gelesen: kein Vergleich.</translation>
    </message>
    <message>
        <source>Samples</source>
        <translation>Messungen</translation>
    </message>
    <message>
        <source>Mean</source>
        <translation>Mittelwert</translation>
    </message>
    <message>
        <source>Std. deviation</source>
        <translation>Standardabweichung</translation>
    </message>
    <message>
        <source>Minimum</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>Maximum</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>Limits (LSL to USL)</source>
        <translation>Grenzen (USG bis OSG)</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1 bis %2</translation>
    </message>
    <message>
        <source>two windows, one per edge</source>
        <translation>zwei Fenster, eines je Kante</translation>
    </message>
    <message>
        <source>In tolerance</source>
        <translation>In Toleranz</translation>
    </message>
    <message>
        <source>Strip chart of the last run</source>
        <translation>Linienschreiber des letzten Laufs</translation>
    </message>
    <message>
        <source>Histogram of the last run</source>
        <translation>Histogramm des letzten Laufs</translation>
    </message>
    <message>
        <source>Report: stop run or video mode first</source>
        <translation>Protokoll: erst Mess- oder Videobetrieb beenden</translation>
    </message>
    <message>
        <source>Report not written: %1</source>
        <translation>Protokoll nicht geschrieben: %1</translation>
    </message>
    <message>
        <source>Report written: %1</source>
        <translation>Protokoll geschrieben: %1</translation>
    </message>
    <message>
        <source>K-VEX-RTN traffic</source>
        <translation>K-VEX-RTN Datenverkehr</translation>
    </message>
    <message>
        <source>Device is back - press Reconnect!</source>
        <translation>Gerät ist wieder da - Neu verbinden drücken!</translation>
    </message>
    <message>
        <source>Line Ok!</source>
        <translation>Leitung OK!</translation>
    </message>
    <message>
        <source>Timeout RS232-Line!</source>
        <translation>Zeitüberschreitung RS232-Leitung!</translation>
    </message>
    <message>
        <source>Set-up and monitoring of K-VEX-RTN line sensors.</source>
        <translation>Einrichten und Überwachen von K-VEX-RTN-Zeilensensoren.</translation>
    </message>
    <message>
        <source>Open the serial device PATH instead of port 1.</source>
        <translation>Das serielle Gerät PFAD statt Port 1 öffnen.</translation>
    </message>
    <message>
        <source>PATH</source>
        <translation>PFAD</translation>
    </message>
    <message>
        <source>Speak LANGUAGE: de (German) or en (English). Without it, the language chosen on the panel, else the system&apos;s.</source>
        <translation>In SPRACHE arbeiten: de (Deutsch) oder en (Englisch). Ohne die Option gilt die auf der Oberfläche gewählte Sprache, sonst die des Systems.</translation>
    </message>
    <message>
        <source>LANGUAGE</source>
        <translation>SPRACHE</translation>
    </message>
    <message>
        <source>Waiting for parameter-frame ...</source>
        <translation>Warte auf Parametertelegramm ...</translation>
    </message>
    <message>
        <source>Parameter-frame received! - Line Ok!</source>
        <translation>Parametertelegramm empfangen! - Leitung OK!</translation>
    </message>
    <message>
        <source>Timeout-RS-232...</source>
        <translation>Zeitüberschreitung RS-232 ...</translation>
    </message>
    <message>
        <source>Transmit...</source>
        <translation>Senden ...</translation>
    </message>
    <message>
        <source>K-VEX-RTN-Series Parameter File</source>
        <translation>K-VEX-RTN-Parameterdatei</translation>
    </message>
    <message>
        <source>New setpoint value teached!</source>
        <translation>Neuer Sollwert eingelernt!</translation>
    </message>
    <message>
        <source>Reset Max/Min values...</source>
        <translation>Max/Min-Werte werden zurückgesetzt ...</translation>
    </message>
    <message>
        <source>Reset of analog-output Max/Min OK!</source>
        <translation>Max/Min des Analogausgangs zurückgesetzt!</translation>
    </message>
    <message>
        <source>Analogue output mode</source>
        <translation>Analogmodus</translation>
    </message>
    <message>
        <source>Evaluation mode</source>
        <translation>Auswertemodus</translation>
    </message>
    <message>
        <source>Evaluation left</source>
        <translation>Fenster links</translation>
    </message>
    <message>
        <source>Evaluation right</source>
        <translation>Fenster rechts</translation>
    </message>
    <message>
        <source>Averaging</source>
        <translation>Mittelung</translation>
    </message>
    <message>
        <source>Word 15</source>
        <translation>Wort 15</translation>
    </message>
    <message>
        <source>Panel</source>
        <translation>Oberfläche</translation>
    </message>
    <message>
        <source>Sensor RAM</source>
        <translation>Sensor-RAM</translation>
    </message>
    <message>
        <source>Sensor EEPROM</source>
        <translation>Sensor-EEPROM</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Parameter file to compare</source>
        <translation>Zu vergleichende Parameterdatei</translation>
    </message>
    <message>
        <source>no file chosen</source>
        <translation>keine Datei gewählt</translation>
    </message>
    <message>
        <source>path too long</source>
        <translation>Pfad zu lang</translation>
    </message>
    <message>
        <source>the file holds fewer than 16 numbers</source>
        <translation>die Datei enthält weniger als 16 Zahlen</translation>
    </message>
    <message>
        <source>the file holds text that is not a number</source>
        <translation>die Datei enthält Text, der keine Zahl ist</translation>
    </message>
    <message>
        <source>cannot open the file</source>
        <translation>die Datei lässt sich nicht öffnen</translation>
    </message>
    <message>
        <source>unknown source</source>
        <translation>unbekannte Quelle</translation>
    </message>
    <message>
        <source>Write to EEPROM</source>
        <translation>Ins EEPROM schreiben</translation>
    </message>
    <message>
        <source>The sensor&apos;s EEPROM could not be read, so the words that would change are not known.

Write the panel&apos;s parameter set permanently anyway?</source>
        <translation>Das EEPROM des Sensors ließ sich nicht lesen, daher ist nicht bekannt, welche Wörter sich ändern würden.

Den Parametersatz der Oberfläche trotzdem dauerhaft schreiben?</translation>
    </message>
    <message>
        <source>EEPROM write cancelled.</source>
        <translation>Schreiben ins EEPROM abgebrochen.</translation>
    </message>
    <message>
        <source>
    %s (word %d): %u -&gt; %u</source>
        <translation>
    %s (Wort %d): %u -&gt; %u</translation>
    </message>
    <message>
        <source>EEPROM already holds this parameter set - nothing sent.</source>
        <translation>Das EEPROM enthält diesen Parametersatz bereits - nichts gesendet.</translation>
    </message>
    <message>
        <source>These words of the sensor&apos;s EEPROM will change permanently:
%1

Write them to the EEPROM?</source>
        <translation>Diese Wörter im EEPROM des Sensors ändern sich dauerhaft:
%1

Ins EEPROM schreiben?</translation>
    </message>
    <message>
        <source>Recording: %1 rows</source>
        <translation>Aufzeichnung: %1 Zeilen</translation>
    </message>
    <message>
        <source>Recording stopped: cannot write %1!</source>
        <translation>Aufzeichnung beendet: %1 lässt sich nicht schreiben!</translation>
    </message>
    <message>
        <source>Recorded %1 rows to %2</source>
        <translation>%1 Zeilen in %2 aufgezeichnet</translation>
    </message>
    <message>
        <source>Record run mode to CSV</source>
        <translation>Messbetrieb als CSV aufzeichnen</translation>
    </message>
    <message>
        <source>Path of the recording file is too long!</source>
        <translation>Pfad der Aufzeichnungsdatei ist zu lang!</translation>
    </message>
    <message>
        <source>Cannot record to %1: %2</source>
        <translation>Aufzeichnen in %1 nicht möglich: %2</translation>
    </message>
    <message>
        <source>Two tolerance windows (one per edge): no single window to rate</source>
        <translation>Zwei Toleranzfenster (eines je Kante): kein einzelnes Fenster zum Bewerten</translation>
    </message>
    <message>
        <source>Needs at least two samples</source>
        <translation>Braucht mindestens zwei Messungen</translation>
    </message>
    <message>
        <source>All samples are equal (standard deviation 0)</source>
        <translation>Alle Messungen sind gleich (Standardabweichung 0)</translation>
    </message>
    <message>
        <source>OFFSET-VALUE</source>
        <translation>OFFSET-WERT</translation>
    </message>
    <message>
        <source>CCD-SENSOR: no information avialable!</source>
        <translation>CCD-SENSOR: keine Angaben verfügbar!</translation>
    </message>
    <message>
        <source>Waiting for firmware info ...</source>
        <translation>Warte auf Firmware-Info ...</translation>
    </message>
    <message>
        <source>Timeout - reading firmware info!</source>
        <translation>Zeitüberschreitung beim Lesen der Firmware-Info!</translation>
    </message>
    <message>
        <source>Unknown system error</source>
        <translation>Unbekannter Systemfehler</translation>
    </message>
    <message>
        <source>Invalid port number</source>
        <translation>Ungültige Portnummer</translation>
    </message>
    <message>
        <source>Port is not open</source>
        <translation>Port ist nicht geöffnet</translation>
    </message>
    <message>
        <source>Unknown I/0 error</source>
        <translation>Unbekannter E/A-Fehler</translation>
    </message>
    <message>
        <source>No serial port found</source>
        <translation>Kein serieller Port gefunden</translation>
    </message>
    <message>
        <source>Cannot open port</source>
        <translation>Port lässt sich nicht öffnen</translation>
    </message>
    <message>
        <source>Invalid parameter</source>
        <translation>Ungültiger Parameter</translation>
    </message>
    <message>
        <source>Timeout</source>
        <translation>Zeitüberschreitung</translation>
    </message>
    <message>
        <source>RS-232 error!</source>
        <translation>RS-232-Fehler!</translation>
    </message>
    <message>
        <source>Bad parameter-frame: wrong sync word!</source>
        <translation>Fehlerhaftes Parametertelegramm: falsches Sync-Wort!</translation>
    </message>
    <message>
        <source>Bad parameter-frame: wrong answer code!</source>
        <translation>Fehlerhaftes Parametertelegramm: falscher Antwortcode!</translation>
    </message>
    <message>
        <source>Bad parameter-frame: wrong length!</source>
        <translation>Fehlerhaftes Parametertelegramm: falsche Länge!</translation>
    </message>
    <message>
        <source>Echo Check - Line Ok!</source>
        <translation>Echoprüfung - Leitung OK!</translation>
    </message>
    <message>
        <source>read error - not sync byte 0xAA!</source>
        <translation>Lesefehler - kein Sync-Byte 0xAA!</translation>
    </message>
    <message>
        <source>Error reading HARDWARE-info!</source>
        <translation>Fehler beim Lesen der HARDWARE-Info!</translation>
    </message>
    <message>
        <source>Error reading firmware-info!</source>
        <translation>Fehler beim Lesen der Firmware-Info!</translation>
    </message>
    <message>
        <source>Waiting for Data[64] ...</source>
        <translation>Warte auf Daten[64] ...</translation>
    </message>
    <message>
        <source>Timeout-RS-232 while reading 64 data-words!</source>
        <translation>Zeitüberschreitung RS-232 beim Lesen von 64 Datenwörtern!</translation>
    </message>
    <message>
        <source>Data[64] block received!</source>
        <translation>Datenblock[64] empfangen!</translation>
    </message>
    <message>
        <source>Waiting for Data[256] ...</source>
        <translation>Warte auf Daten[256] ...</translation>
    </message>
    <message>
        <source>Timeout-RS-232 while reading 256 data-words!</source>
        <translation>Zeitüberschreitung RS-232 beim Lesen von 256 Datenwörtern!</translation>
    </message>
    <message>
        <source>Data[256] block received!</source>
        <translation>Datenblock[256] empfangen!</translation>
    </message>
    <message>
        <source>Short video block: previous line held! Short blocks: %d</source>
        <translation>Videoblock zu kurz: vorige Zeile bleibt stehen! Kurze Blöcke: %d</translation>
    </message>
    <message>
        <source>%s Short blocks: %d</source>
        <translation>%s Kurze Blöcke: %d</translation>
    </message>
    <message>
        <source>Path of the export file is too long!</source>
        <translation>Pfad der Exportdatei ist zu lang!</translation>
    </message>
    <message>
        <source>Cannot write %1!</source>
        <translation>%1 lässt sich nicht schreiben!</translation>
    </message>
    <message>
        <source>Saved %1, but cannot write %2!</source>
        <translation>%1 gespeichert, aber %2 lässt sich nicht schreiben!</translation>
    </message>
    <message>
        <source>Saved %1 and %2, but cannot write %3!</source>
        <translation>%1 und %2 gespeichert, aber %3 lässt sich nicht schreiben!</translation>
    </message>
    <message>
        <source>Saved %1, %2 and %3</source>
        <translation>%1, %2 und %3 gespeichert</translation>
    </message>
    <message>
        <source>Export the video line</source>
        <translation>Videozeile exportieren</translation>
    </message>
    <message>
        <source>Export the strip chart</source>
        <translation>Linienschreiber exportieren</translation>
    </message>
    <message>
        <source>Parameter file %s holds fewer than 16 numbers!</source>
        <translation>Parameterdatei %s enthält weniger als 16 Zahlen!</translation>
    </message>
    <message>
        <source>Parameter file %s holds text that is not a number!</source>
        <translation>Parameterdatei %s enthält Text, der keine Zahl ist!</translation>
    </message>
    <message>
        <source>Cannot write parameter file %s!</source>
        <translation>Parameterdatei %s lässt sich nicht schreiben!</translation>
    </message>
    <message>
        <source>Path of the parameter file is too long!</source>
        <translation>Pfad der Parameterdatei ist zu lang!</translation>
    </message>
    <message>
        <source>Cannot open parameter file %s!</source>
        <translation>Parameterdatei %s lässt sich nicht öffnen!</translation>
    </message>
    <message>
        <source>K-VEX-RTN-Parameter-File</source>
        <translation>K-VEX-RTN-Parameterdatei</translation>
    </message>
    <message>
        <source>Compare parameter sets</source>
        <translation>Parametersätze vergleichen</translation>
    </message>
    <message>
        <source>First parameter set</source>
        <translation>Erster Parametersatz</translation>
    </message>
    <message>
        <source>Second parameter set</source>
        <translation>Zweiter Parametersatz</translation>
    </message>
    <message>
        <source>with</source>
        <translation>mit</translation>
    </message>
    <message>
        <source>Parameter words</source>
        <translation>Parameterwörter</translation>
    </message>
    <message>
        <source>Comparison</source>
        <translation>Vergleich</translation>
    </message>
    <message>
        <source>Word</source>
        <translation>Wort</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>All %1 words are equal.</source>
        <translation>Alle %1 Wörter sind gleich.</translation>
    </message>
    <message>
        <source>%1 of %2 words differ.</source>
        <translation>%1 von %2 Wörtern weichen ab.</translation>
    </message>
    <message>
        <source>&amp;Pause</source>
        <translation>&amp;Pause</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>&amp;Save…</source>
        <translation>&amp;Speichern…</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>Angehalten</translation>
    </message>
    <message>
        <source>Save traffic</source>
        <translation>Datenverkehr speichern</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>Gespeichert in %1</translation>
    </message>
    <message>
        <source>Parameter set</source>
        <translation>Parametersatz</translation>
    </message>
    <message>
        <source>Operator&apos;s note</source>
        <translation>Anmerkung des Bedieners</translation>
    </message>
    <message>
        <source>Sensor and connection</source>
        <translation>Sensor und Verbindung</translation>
    </message>
    <message>
        <source>Statistics of the last run</source>
        <translation>Statistik des letzten Laufs</translation>
    </message>
    <message>
        <source>Commissioning report</source>
        <translation>Inbetriebnahmeprotokoll</translation>
    </message>
    <message>
        <source>&amp;Browse…</source>
        <translation>&amp;Durchsuchen…</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Page size</source>
        <translation>&amp;Papierformat</translation>
    </message>
    <message>
        <source>Optional: where the sensor is fitted, what was set and why</source>
        <translation>Optional: wo der Sensor sitzt, was eingestellt wurde und warum</translation>
    </message>
    <message>
        <source>&amp;Note</source>
        <translation>&amp;Anmerkung</translation>
    </message>
    <message>
        <source>Report file</source>
        <translation>Protokolldatei</translation>
    </message>
    <message>
        <source>PDF documents (*.pdf)</source>
        <translation>PDF-Dokumente (*.pdf)</translation>
    </message>
    <message>
        <source>the page could not be drawn</source>
        <translation>die Seite ließ sich nicht zeichnen</translation>
    </message>
    <message>
        <source>time (s)</source>
        <translation>Zeit (s)</translation>
    </message>
    <message>
        <source>dir</source>
        <translation>Ri.</translation>
    </message>
    <message>
        <source>code</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>bytes</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>words</source>
        <translation>Wörter</translation>
    </message>
    <message>
        <source>marks</source>
        <translation>Marken</translation>
    </message>
    <message>
        <source>cannot use port %1: %2</source>
        <translation>Port %1 nicht nutzbar: %2</translation>
    </message>
    <message>
        <source>no answer from the sensor on %1: %2</source>
        <translation>keine Antwort vom Sensor an %1: %2</translation>
    </message>
    <message>
        <source>bad answer from the sensor on %1: %2</source>
        <translation>fehlerhafte Antwort vom Sensor an %1: %2</translation>
    </message>
    <message>
        <source>--port PORT is needed for this command</source>
        <translation>dieser Befehl braucht --port PORT</translation>
    </message>
    <message>
        <source>there is no port %1 (see kvex-rtn-cli ports)</source>
        <translation>Port %1 gibt es nicht (siehe kvex-rtn-cli ports)</translation>
    </message>
    <message>
        <source>kvex-rtn-cli: %s is gone, waiting for it to come back
</source>
        <translation>kvex-rtn-cli: %s ist nicht mehr da, warte, bis es wiederkommt
</translation>
    </message>
    <message>
        <source>needs %1 N (N &gt; 0) and --csv FILE</source>
        <translation>braucht %1 N (N &gt; 0) und --csv DATEI</translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation>%1 lässt sich nicht schreiben</translation>
    </message>
    <message>
        <source>the sensor stopped answering after %1 of %2 rows: %3</source>
        <translation>der Sensor antwortet nicht mehr, nach %1 von %2 Zeilen: %3</translation>
    </message>
    <message>
        <source>--port needs a device path or a port number</source>
        <translation>--port braucht einen Gerätepfad oder eine Portnummer</translation>
    </message>
    <message>
        <source>unknown option %1 (see --help)</source>
        <translation>unbekannte Option %1 (siehe --help)</translation>
    </message>
    <message>
        <source>unknown command %1 (see --help)</source>
        <translation>unbekannter Befehl %1 (siehe --help)</translation>
    </message>
    <message>
        <source>no command given (see --help)</source>
        <translation>kein Befehl angegeben (siehe --help)</translation>
    </message>
    <message>
        <source>usage: kvex-rtn-cli %s
</source>
        <translation>Aufruf: kvex-rtn-cli %s
</translation>
    </message>
    <message>
        <source>get needs --from ram or --from eeprom</source>
        <translation>get braucht --from ram oder --from eeprom</translation>
    </message>
    <message>
        <source>no parameter frame from %1: %2</source>
        <translation>kein Parametertelegramm aus %1: %2</translation>
    </message>
    <message>
        <source>cannot write parameter file %1</source>
        <translation>Parameterdatei %1 lässt sich nicht schreiben</translation>
    </message>
    <message>
        <source>send needs --to ram or --to eeprom</source>
        <translation>send braucht --to ram oder --to eeprom</translation>
    </message>
    <message>
        <source>send needs exactly one parameter file</source>
        <translation>send braucht genau eine Parameterdatei</translation>
    </message>
    <message>
        <source>word %1 (sent %2, read %3)</source>
        <translation>Wort %1 (gesendet %2, gelesen %3)</translation>
    </message>
    <message>
        <source>read-back from %1 differs from %2: %3</source>
        <translation>Zurückgelesenes aus %1 weicht von %2 ab: %3</translation>
    </message>
    <message>
        <source>process %1</source>
        <translation>Prozess %1</translation>
    </message>
    <message>
        <source>&quot;%1&quot;, process %2</source>
        <translation>&quot;%1&quot;, Prozess %2</translation>
    </message>
    <message>
        <source>no serial ports on this machine</source>
        <translation>keine seriellen Ports auf diesem Rechner</translation>
    </message>
    <message>
        <source>ports here: %1</source>
        <translation>vorhandene Ports: %1</translation>
    </message>
    <message>
        <source>no such device %1 - %2</source>
        <translation>Gerät %1 gibt es nicht - %2</translation>
    </message>
    <message>
        <source>%1 is in use by another program (%2)</source>
        <translation>%1 ist von einem anderen Programm belegt (%2)</translation>
    </message>
    <message>
        <source>%1 is in use by another program</source>
        <translation>%1 ist von einem anderen Programm belegt</translation>
    </message>
    <message>
        <source>line %1 holds a number no parameter word can hold</source>
        <translation>Zeile %1 enthält eine Zahl, die kein Parameterwort aufnehmen kann</translation>
    </message>
    <message>
        <source>no serial ports found (see kvex-rtn-cli ports)</source>
        <translation>keine seriellen Ports gefunden (siehe kvex-rtn-cli ports)</translation>
    </message>
    <message>
        <source>usage: kvex-rtn-cli [--port PORT] [--json] [--wait] [--verbose]
                    [--low-latency on|off] [--lang de|en] COMMAND ...
       kvex-rtn-cli --help | --version

Commands:
</source>
        <translation>Aufruf: kvex-rtn-cli [--port PORT] [--json] [--wait] [--verbose]
                     [--low-latency on|off] [--lang de|en] BEFEHL ...
        kvex-rtn-cli --help | --version

Befehle:
</translation>
    </message>
    <message>
        <source>
PORT is a device path (/dev/ttyUSB0, a pseudo-terminal) or a port number as the
panel program lists it. --json prints machine-readable output. --wait waits for the
device to appear, and for a lost device to come back, then connects again.
--verbose copies the status line&apos;s texts to stderr, and says when a USB adapter still
holds answers for its latency timer. --low-latency off stops asking the adapter&apos;s
driver for low latency when the port opens (on by default). --lang speaks German
(de) or English (en) instead of the system&apos;s language; files and output stay the
same.

Exit codes: 0 ok, 2 usage, 3 no answer or time-out, 4 bad answer, 5 file error.
</source>
        <translation>
PORT ist ein Gerätepfad (/dev/ttyUSB0, ein Pseudo-Terminal) oder eine Portnummer, wie
sie das Panelprogramm auflistet. --json gibt maschinenlesbar aus. --wait wartet, bis das
Gerät erscheint und ein verlorenes Gerät wiederkommt, und verbindet dann neu.
--verbose kopiert die Texte der Statuszeile nach stderr und meldet, wenn ein USB-Adapter
Antworten für seinen Latenz-Timer zurückhält. --low-latency off bittet den Treiber des
Adapters beim Öffnen des Ports nicht um geringe Latenz (sonst immer). --lang wählt
Deutsch (de) oder Englisch (en) statt der Systemsprache; Dateien und Ausgabe bleiben
gleich.

Exit-Codes: 0 OK, 2 Aufruf, 3 keine Antwort oder Zeitüberschreitung, 4 fehlerhafte Antwort,
5 Dateifehler.
</translation>
    </message>
    <message>
        <source>--low-latency needs on or off</source>
        <translation>--low-latency braucht on oder off</translation>
    </message>
    <message>
        <source>--low-latency wants on or off, not %1</source>
        <translation>--low-latency nimmt on oder off, nicht %1</translation>
    </message>
    <message>
        <source>the write to %1 was cancelled - nothing sent</source>
        <translation>Schreiben in %1 abgebrochen - nichts gesendet</translation>
    </message>
    <message>
        <source>cannot write to %1 - nothing sent</source>
        <translation>Schreiben auf %1 nicht möglich - nichts gesendet</translation>
    </message>
    <message>
        <source>sent %1 to %2, but no read-back: %3</source>
        <translation>%1 in %2 geschrieben, aber kein Zurücklesen: %3</translation>
    </message>
    <message>
        <source>Parameter file %s holds text that is not a number (line %d)!</source>
        <translation>Parameterdatei %s enthält Text, der keine Zahl ist (Zeile %d)!</translation>
    </message>
    <message>
        <source>Parameter file %s line %d: %s is below 0!</source>
        <translation>Parameterdatei %s, Zeile %d: %s ist kleiner als 0!</translation>
    </message>
    <message>
        <source>Parameter file %s line %d: %s is above 65535!</source>
        <translation>Parameterdatei %s, Zeile %d: %s ist größer als 65535!</translation>
    </message>
    <message>
        <source>Parameter file %s holds a number no word can hold!</source>
        <translation>Parameterdatei %s enthält eine Zahl, die kein Parameterwort aufnehmen kann!</translation>
    </message>
    <message>
        <source>permission denied on %1 - %2; %3</source>
        <translation>keine Berechtigung für %1 - %2; %3</translation>
    </message>
    <message>
        <source>user &quot;%1&quot; may read and write it (owner &quot;%2&quot;, group &quot;%3&quot;, mode %4)</source>
        <translation>Benutzer &quot;%1&quot; darf es lesen und schreiben (Eigentümer &quot;%2&quot;, Gruppe &quot;%3&quot;, Modus %4)</translation>
    </message>
    <message>
        <source>it belongs to group &quot;%1&quot; (mode %2); user &quot;%3&quot; is in that group, but this login began before it joined</source>
        <translation>es gehört der Gruppe &quot;%1&quot; (Modus %2); Benutzer &quot;%3&quot; ist in dieser Gruppe, wurde aber erst nach Beginn dieser Anmeldung aufgenommen</translation>
    </message>
    <message>
        <source>log out and in again (group membership counts from the next login)</source>
        <translation>ab- und wieder anmelden (die Gruppenzugehörigkeit gilt ab der nächsten Anmeldung)</translation>
    </message>
    <message>
        <source>it belongs to group &quot;%1&quot; (mode %2) and user &quot;%3&quot; is not in that group</source>
        <translation>es gehört der Gruppe &quot;%1&quot; (Modus %2), und Benutzer &quot;%3&quot; ist nicht in dieser Gruppe</translation>
    </message>
    <message>
        <source>add the user to group &quot;%1&quot; (sudo usermod -aG %1 %2) and log in again</source>
        <translation>den Benutzer in die Gruppe &quot;%1&quot; aufnehmen (sudo usermod -aG %1 %2) und neu anmelden</translation>
    </message>
    <message>
        <source>only its owner &quot;%1&quot; may open it (mode %2)</source>
        <translation>nur der Eigentümer &quot;%1&quot; darf es öffnen (Modus %2)</translation>
    </message>
    <message>
        <source>give group &quot;%1&quot; read and write access with a udev rule, add the user to that group and log in again</source>
        <translation>der Gruppe &quot;%1&quot; mit einer udev-Regel Lese- und Schreibrecht geben, den Benutzer in diese Gruppe aufnehmen und neu anmelden</translation>
    </message>
    <message>
        <source>Select a fix and copy it (Ctrl+C) to run it yourself; the check itself changes nothing on this machine.</source>
        <translation>Eine Abhilfe markieren und kopieren (Strg+C), um sie selbst auszuführen; die Prüfung selbst ändert nichts an diesem Rechner.</translation>
    </message>
    <message>
        <source>%s (word %d) is %u, allowed %u to %u</source>
        <translation>%s (Wort %d) ist %u, erlaubt %u bis %u</translation>
    </message>
    <message>
        <source>line %1: %2 (word %3) is %4, a negative number (allowed %5 to %6)</source>
        <translation>Zeile %1: %2 (Wort %3) ist %4, eine negative Zahl (erlaubt %5 bis %6)</translation>
    </message>
    <message>
        <source>line %1: %2 (word %3) is %4, above 65535 (allowed %5 to %6)</source>
        <translation>Zeile %1: %2 (Wort %3) ist %4, größer als 65535 (erlaubt %5 bis %6)</translation>
    </message>
    <message>
        <source>line %1: %2</source>
        <translation>Zeile %1: %2</translation>
    </message>
    <message>
        <source>check that the sensor has power, that its cable is on this port, and the cable (a null-modem cable where both ends are wired as a computer&apos;s port)</source>
        <translation>prüfen, ob der Sensor Spannung hat, ob sein Kabel an diesem Port steckt, und das Kabel selbst (ein Nullmodemkabel, wenn beide Seiten wie die Schnittstelle eines Rechners beschaltet sind)</translation>
    </message>
    <message>
        <source>make sure a K-VEX-RTN sensor is on this port and set to 19 200 baud, 8N1</source>
        <translation>sicherstellen, dass an diesem Port ein K-VEX-RTN-Sensor hängt und auf 19 200 Baud, 8N1 eingestellt ist</translation>
    </message>
    <message>
        <source>the echo came back in %1 (median of %2, slowest %3; the wire alone takes %4)</source>
        <translation>das Echo kam nach %1 zurück (Median aus %2, langsamstes %3; die Leitung allein braucht %4)</translation>
    </message>
    <message>
        <source>; %1 of %2 echoes did not: %3</source>
        <translation>; %1 von %2 Echos kamen nicht zurück: %3</translation>
    </message>
    <message>
        <source>hardware query: %1</source>
        <translation>Hardware-Abfrage: %1</translation>
    </message>
    <message>
        <source>firmware text: %1</source>
        <translation>Firmware-Text: %1</translation>
    </message>
    <message>
        <source>sensor type %1, board %2, %3 pixels, firmware &quot;%4&quot;</source>
        <translation>Sensortyp %1, Platine %2, %3 Pixel, Firmware &quot;%4&quot;</translation>
    </message>
    <message>
        <source>no line</source>
        <translation>keine Leitung</translation>
    </message>
    <message>
        <source>the program is using the port (run or video mode): press Stop and check again</source>
        <translation>das Programm nutzt den Port (Mess- oder Videobetrieb): Stopp drücken und erneut prüfen</translation>
    </message>
    <message>
        <source>the port cannot be used (see above)</source>
        <translation>der Port ist nicht nutzbar (siehe oben)</translation>
    </message>
    <message>
        <source>see the checks above; a port that does not open for them either may need a new plug-in of the adapter</source>
        <translation>siehe die Prüfungen oben; öffnet sich der Port auch dann nicht, den Adapter ab- und wieder anstecken</translation>
    </message>
    <message>
        <source>port %1</source>
        <translation>Port %1</translation>
    </message>
    <message>
        <source>port %1: %2</source>
        <translation>Port %1: %2</translation>
    </message>
    <message>
        <source>fix: %1</source>
        <translation>Abhilfe: %1</translation>
    </message>
    <message>
        <source>K-VEX-RTN port check: port %1</source>
        <translation>K-VEX-RTN Portprüfung: Port %1</translation>
    </message>
    <message>
        <source>K-VEX-RTN port check: port %1 (%2)</source>
        <translation>K-VEX-RTN Portprüfung: Port %1 (%2)</translation>
    </message>
    <message>
        <source>%1: %2 word outside the panel&apos;s limits - nothing sent</source>
        <translation>%1: %2 Wort außerhalb der Grenzen der Oberfläche - nichts gesendet</translation>
    </message>
    <message>
        <source>%1: %2 words outside the panel&apos;s limits - nothing sent</source>
        <translation>%1: %2 Wörter außerhalb der Grenzen der Oberfläche - nichts gesendet</translation>
    </message>
    <message>
        <source>The USB adapter&apos;s latency timer is %1 ms: it can hold each answer that long before passing it on, although low latency was asked for. Fix: the udev rule the package installs (/usr/lib/udev/rules.d/60-kvex-rtn.rules) sets the timer to 1 ms; unplug the adapter and plug it in again after installing the package.</source>
        <translation>Der Latenz-Timer des USB-Adapters steht auf %1 ms: So lange kann er jede Antwort zurückhalten, obwohl geringe Latenz angefordert wurde. Abhilfe: Die udev-Regel des Pakets (/usr/lib/udev/rules.d/60-kvex-rtn.rules) stellt den Timer auf 1 ms; nach der Installation des Pakets den Adapter ab- und wieder anstecken.</translation>
    </message>
    <message>
        <source>The USB adapter&apos;s latency timer is %1 ms: it can hold each answer that long before passing it on; low latency is switched off. Fix: the udev rule the package installs (/usr/lib/udev/rules.d/60-kvex-rtn.rules) sets the timer to 1 ms; unplug the adapter and plug it in again after installing the package.</source>
        <translation>Der Latenz-Timer des USB-Adapters steht auf %1 ms: So lange kann er jede Antwort zurückhalten; geringe Latenz ist ausgeschaltet. Abhilfe: Die udev-Regel des Pakets (/usr/lib/udev/rules.d/60-kvex-rtn.rules) stellt den Timer auf 1 ms; nach der Installation des Pakets den Adapter ab- und wieder anstecken.</translation>
    </message>
    <message>
        <source>the port has no device</source>
        <translation>dem Port ist kein Gerät zugeordnet</translation>
    </message>
    <message>
        <source>plug the adapter in, or choose another port %1</source>
        <translation>den Adapter anstecken oder einen anderen Port wählen %1</translation>
    </message>
    <message>
        <source>no such device %1</source>
        <translation>Gerät %1 gibt es nicht</translation>
    </message>
    <message>
        <source>plug the adapter in (dmesg then names its device), or choose another port %1</source>
        <translation>den Adapter anstecken (dmesg nennt dann sein Gerät) oder einen anderen Port wählen %1</translation>
    </message>
    <message>
        <source>%1 is not a serial device</source>
        <translation>%1 ist keine serielle Schnittstelle</translation>
    </message>
    <message>
        <source>name the port&apos;s device, such as /dev/ttyUSB0 or /dev/serial/by-id/...</source>
        <translation>das Gerät des Ports angeben, etwa /dev/ttyUSB0 oder /dev/serial/by-id/...</translation>
    </message>
    <message>
        <source>%1 is there (%2)</source>
        <translation>%1 ist vorhanden (%2)</translation>
    </message>
    <message>
        <source>%1 is there</source>
        <translation>%1 ist vorhanden</translation>
    </message>
    <message>
        <source>permission denied: %1</source>
        <translation>keine Berechtigung: %1</translation>
    </message>
    <message>
        <source>no other program holds it</source>
        <translation>kein anderes Programm belegt ihn</translation>
    </message>
    <message>
        <source>ModemManager is probing it: keep it away with the rule of the modem_manager check, then plug the adapter in again</source>
        <translation>ModemManager prüft ihn gerade: ihn mit der Regel aus der Prüfung modem_manager fernhalten, dann den Adapter ab- und wieder anstecken</translation>
    </message>
    <message>
        <source>quit that program; if it is a leftover: kill %1</source>
        <translation>dieses Programm beenden; ist es ein Überbleibsel: kill %1</translation>
    </message>
    <message>
        <source>no system bus here</source>
        <translation>kein Systembus vorhanden</translation>
    </message>
    <message>
        <source>the system bus did not answer</source>
        <translation>der Systembus hat nicht geantwortet</translation>
    </message>
    <message>
        <source>ModemManager is not running</source>
        <translation>ModemManager läuft nicht</translation>
    </message>
    <message>
        <source>ModemManager runs, and udev tells it to leave %1 alone</source>
        <translation>ModemManager läuft, und udev weist ihn an, %1 in Ruhe zu lassen</translation>
    </message>
    <message>
        <source>ModemManager runs and may probe %1 for a modem when it appears: it holds the port meanwhile and sends it AT commands</source>
        <translation>ModemManager läuft und kann %1 beim Erscheinen auf ein Modem prüfen: Er belegt den Port so lange und sendet AT-Befehle</translation>
    </message>
    <message>
        <source>echo &apos;%1, ENV{ID_MM_DEVICE_IGNORE}=&quot;1&quot;&apos; | sudo tee /etc/udev/rules.d/99-kvex-sensor.rules, then sudo udevadm control --reload and plug the adapter in again</source>
        <translation>echo &apos;%1, ENV{ID_MM_DEVICE_IGNORE}=&quot;1&quot;&apos; | sudo tee /etc/udev/rules.d/99-kvex-sensor.rules, dann sudo udevadm control --reload und den Adapter ab- und wieder anstecken</translation>
    </message>
    <message>
        <source>no system bus support in this build</source>
        <translation>dieser Build kann den Systembus nicht fragen</translation>
    </message>
    <message>
        <source>no USB devices to look at here</source>
        <translation>keine USB-Geräte zu prüfen</translation>
    </message>
    <message>
        <source>%1 adapter %2:%3 (USB %4)</source>
        <translation>%1-Adapter %2:%3 (USB %4)</translation>
    </message>
    <message>
        <source>brltty is not running</source>
        <translation>brltty läuft nicht</translation>
    </message>
    <message>
        <source>brltty runs, but every CH340 or CP210x adapter has its tty</source>
        <translation>brltty läuft, aber jeder CH340- oder CP210x-Adapter hat sein tty</translation>
    </message>
    <message>
        <source>the %1 has no tty: brltty (process %2) has taken it for a braille display</source>
        <translation>der %1 hat kein tty: brltty (Prozess %2) hat ihn für eine Braillezeile gehalten</translation>
    </message>
    <message>
        <source>where no braille display is used: sudo systemctl mask brltty-udev.service &amp;&amp; sudo systemctl stop brltty-udev.service brltty.service, then plug the adapter in again</source>
        <translation>wo keine Braillezeile benutzt wird: sudo systemctl mask brltty-udev.service &amp;&amp; sudo systemctl stop brltty-udev.service brltty.service, dann den Adapter ab- und wieder anstecken</translation>
    </message>
    <message>
        <source>no device</source>
        <translation>kein Gerät</translation>
    </message>
    <message>
        <source>no latency timer (not an FTDI USB adapter)</source>
        <translation>kein Latenz-Timer (kein FTDI-USB-Adapter)</translation>
    </message>
    <message>
        <source>the adapter passes received bytes on after at most %1 ms (latency_timer)</source>
        <translation>der Adapter gibt empfangene Bytes nach höchstens %1 ms weiter (latency_timer)</translation>
    </message>
    <message>
        <source>the adapter passes received bytes on after at most %1 ms (latency_timer): each answer can reach the program that much later</source>
        <translation>der Adapter gibt empfangene Bytes nach höchstens %1 ms weiter (latency_timer): Jede Antwort kann das Programm um so viel später erreichen</translation>
    </message>
    <message>
        <source>install the package&apos;s udev rule (/usr/lib/udev/rules.d/60-kvex-rtn.rules) and plug the adapter in again, or until the next plug-in: echo 1 | sudo tee /sys/class/tty/%1/device/latency_timer</source>
        <translation>die udev-Regel des Pakets installieren (/usr/lib/udev/rules.d/60-kvex-rtn.rules) und den Adapter ab- und wieder anstecken, oder bis zum nächsten Anstecken: echo 1 | sudo tee /sys/class/tty/%1/device/latency_timer</translation>
    </message>
    <message>
        <source>checked when the port opens</source>
        <translation>wird beim Öffnen des Ports geprüft</translation>
    </message>
    <message>
        <source>no latency timer here</source>
        <translation>kein Latenz-Timer vorhanden</translation>
    </message>
    <message>
        <source>unexpected word: %1</source>
        <translation>unerwartetes Wort: %1</translation>
    </message>
    <message>
        <source>--%1 needs a value</source>
        <translation>--%1 braucht einen Wert</translation>
    </message>
    <message>
        <source> (got &quot;%1&quot;)</source>
        <translation> (angegeben: &quot;%1&quot;)</translation>
    </message>
    <message>
        <source>not allowed inside a config file</source>
        <translation>in einer Konfigurationsdatei nicht erlaubt</translation>
    </message>
    <message>
        <source>expected HOST[:PORT]</source>
        <translation>erwartet HOST[:PORT]</translation>
    </message>
    <message>
        <source>expected a topic without + or #</source>
        <translation>erwartet ein Topic ohne + und #</translation>
    </message>
    <message>
        <source>expected 0, 1 or 2</source>
        <translation>erwartet 0, 1 oder 2</translation>
    </message>
    <message>
        <source>a password on the command line is visible to every user; use --password-file, the config file or KVEX_MQTT_PASSWORD</source>
        <translation>ein Passwort auf der Kommandozeile sieht jeder Benutzer; stattdessen --password-file, die Konfigurationsdatei oder KVEX_MQTT_PASSWORD verwenden</translation>
    </message>
    <message>
        <source>expected 1 to 1000</source>
        <translation>erwartet 1 bis 1000</translation>
    </message>
    <message>
        <source>expected 1 to 10000000</source>
        <translation>erwartet 1 bis 10000000</translation>
    </message>
    <message>
        <source>expected a positive number</source>
        <translation>erwartet eine positive Zahl</translation>
    </message>
    <message>
        <source>expected [ADDR:]PORT</source>
        <translation>erwartet [ADRESSE:]PORT</translation>
    </message>
    <message>
        <source>expected 0 to 255</source>
        <translation>erwartet 0 bis 255</translation>
    </message>
    <message>
        <source>expected normal or swap</source>
        <translation>erwartet normal oder swap</translation>
    </message>
    <message>
        <source>expected on or off</source>
        <translation>erwartet on oder off</translation>
    </message>
    <message>
        <source>unknown option --%1</source>
        <translation>unbekannte Option --%1</translation>
    </message>
    <message>
        <source>INI file with the same keys (command line wins)</source>
        <translation>INI-Datei mit denselben Schlüsseln (die Kommandozeile hat Vorrang)</translation>
    </message>
    <message>
        <source>poll slower than the wire rate</source>
        <translation>langsamer abfragen, als die Leitung erlaubt</translation>
    </message>
    <message>
        <source>publish to this MQTT broker (port 1883)</source>
        <translation>an diesen MQTT-Broker veröffentlichen (Port 1883)</translation>
    </message>
    <message>
        <source>topics under P (kvex/&lt;host&gt;-&lt;port name&gt;)</source>
        <translation>Topics unter P (kvex/&lt;Host&gt;-&lt;Portname&gt;)</translation>
    </message>
    <message>
        <source>QoS of meas (0); --state-qos N of status/info/params (1)</source>
        <translation>QoS von meas (0); --state-qos N von status/info/params (1)</translation>
    </message>
    <message>
        <source>TLS to the broker</source>
        <translation>TLS zum Broker</translation>
    </message>
    <message>
        <source>or KVEX_MQTT_PASSWORD in the environment</source>
        <translation>oder KVEX_MQTT_PASSWORD in der Umgebung</translation>
    </message>
    <message>
        <source>N samples per meas message (1)</source>
        <translation>N Messwerte je meas-Nachricht (1)</translation>
    </message>
    <message>
        <source>samples kept while the broker is away (100000)</source>
        <translation>Messwerte, die bei fehlendem Broker aufbewahrt werden (100000)</translation>
    </message>
    <message>
        <source>late messages per second once it is back (500)</source>
        <translation>nachgereichte Nachrichten je Sekunde, sobald er zurück ist (500)</translation>
    </message>
    <message>
        <source>Modbus TCP server (address 127.0.0.1)</source>
        <translation>Modbus-TCP-Server (Adresse 127.0.0.1)</translation>
    </message>
    <message>
        <source>Modbus unit id answered (255)</source>
        <translation>beantwortete Modbus-Unit-ID (255)</translation>
    </message>
    <message>
        <source>32-bit registers low word first</source>
        <translation>32-Bit-Register mit dem niederwertigen Wort zuerst</translation>
    </message>
    <message>
        <source>do not ask a USB adapter for low latency (on)</source>
        <translation>USB-Adapter nicht um geringe Latenz bitten (on)</translation>
    </message>
    <message>
        <source>serve: polls the sensor in run mode and publishes every measurement.</source>
        <translation>serve: fragt den Sensor im Messbetrieb ab und veröffentlicht jeden Messwert.</translation>
    </message>
    <message>
        <source>cannot serve Modbus TCP on %s:%d: %s%s</source>
        <translation>Modbus TCP auf %s:%d nicht möglich: %s%s</translation>
    </message>
    <message>
        <source> (ports below 1024 need privileges)</source>
        <translation> (Ports unter 1024 brauchen Rechte)</translation>
    </message>
    <message>
        <source>Modbus TCP on %s:%d, unit id %d</source>
        <translation>Modbus TCP auf %s:%d, Unit-ID %d</translation>
    </message>
    <message>
        <source>MQTT broker %s:%d, topics under %s/</source>
        <translation>MQTT-Broker %s:%d, Topics unter %s/</translation>
    </message>
    <message>
        <source>sensor found on %s: type %u, board %u, %u pixels, firmware &quot;%s&quot;</source>
        <translation>Sensor an %s gefunden: Typ %u, Platine %u, %u Pixel, Firmware &quot;%s&quot;</translation>
    </message>
    <message>
        <source>sensor lost on %s: no answer within %.1f s; retrying</source>
        <translation>Sensor an %s verloren: keine Antwort innerhalb %.1f s; neuer Versuch</translation>
    </message>
    <message>
        <source>no sensor answering on %s (%s); retrying every %.0f s</source>
        <translation>kein Sensor antwortet an %s (%s); neuer Versuch alle %.0f s</translation>
    </message>
    <message>
        <source>broker connected: %s:%d as %s</source>
        <translation>Broker verbunden: %s:%d als %s</translation>
    </message>
    <message>
        <source>sending backlog of %zu samples</source>
        <translation>sende Rückstand von %zu Messwerten</translation>
    </message>
    <message>
        <source>broker lost: %s; samples wait in the queue (at most %zu)</source>
        <translation>Broker verloren: %s; Messwerte warten in der Warteschlange (höchstens %zu)</translation>
    </message>
    <message>
        <source>broker not reachable: %s; retrying with back-off</source>
        <translation>Broker nicht erreichbar: %s; neue Versuche mit wachsendem Abstand</translation>
    </message>
    <message>
        <source>backlog sent: %llu samples</source>
        <translation>Rückstand gesendet: %llu Messwerte</translation>
    </message>
    <message>
        <source>samples dropped: %llu so far (queue of %zu full)</source>
        <translation>Messwerte verworfen: bisher %llu (Warteschlange mit %zu voll)</translation>
    </message>
    <message>
        <source>stopping on signal %d</source>
        <translation>Ende auf Signal %d</translation>
    </message>
    <message>
        <source>serve: port %d has no device</source>
        <translation>serve: Port %d ist kein Gerät zugeordnet</translation>
    </message>
    <message>
        <source>expected a file</source>
        <translation>Datei erwartet</translation>
    </message>
    <message>
        <source>expected 1 to 1000000</source>
        <translation>1 bis 1000000 erwartet</translation>
    </message>
    <message>
        <source>keep every sample in this SQLite file until it is published</source>
        <translation>jeden Messwert in dieser SQLite-Datei halten, bis er veröffentlicht ist</translation>
    </message>
    <message>
        <source>bound the store&apos;s file to M MiB (oldest go first)</source>
        <translation>Datei des Speichers auf M MiB begrenzen (älteste zuerst verworfen)</translation>
    </message>
    <message>
        <source>cannot create the store&apos;s folder %1: %2</source>
        <translation>Ordner des Speichers %1 lässt sich nicht anlegen: %2</translation>
    </message>
    <message>
        <source>the store %1 is a folder, not a file</source>
        <translation>der Speicher %1 ist ein Ordner, keine Datei</translation>
    </message>
    <message>
        <source>store %s: epoch %lld, %zu samples kept, next seq %u</source>
        <translation>Speicher %s: Epoche %lld, %zu Messwerte gehalten, nächste seq %u</translation>
    </message>
    <message>
        <source>store %s is damaged (%s): moved aside to %s; a new epoch begins</source>
        <translation>Speicher %s ist beschädigt (%s): beiseitegelegt als %s; eine neue Epoche beginnt</translation>
    </message>
    <message>
        <source>store %s holds another epoch&apos;s samples: moved aside to %s</source>
        <translation>Speicher %s enthält Messwerte einer anderen Epoche: beiseitegelegt als %s</translation>
    </message>
    <message>
        <source>store %s written again: %zu samples kept</source>
        <translation>Speicher %s wird wieder geschrieben: %zu Messwerte gehalten</translation>
    </message>
    <message>
        <source>store %s failing (%s): samples wait in memory (at most %zu); trying again every %.0f s</source>
        <translation>Speicher %s gestört (%s): Messwerte warten im Arbeitsspeicher (höchstens %zu); neuer Versuch alle %.0f s</translation>
    </message>
    <message>
        <source>%zu samples kept in the store %s for the next start</source>
        <translation>%zu Messwerte im Speicher %s für den nächsten Start gehalten</translation>
    </message>
    <message>
        <source>serve: --store keeps samples for the MQTT broker; give --mqtt too</source>
        <translation>serve: --store hält Messwerte für den MQTT-Broker; auch --mqtt angeben</translation>
    </message>
    <message>
        <source>web page, JSON API and metrics (address 127.0.0.1)</source>
        <translation>Webseite, JSON-API und Metriken (Adresse 127.0.0.1)</translation>
    </message>
    <message>
        <source>turns on writes from the web with the token in F</source>
        <translation>erlaubt Schreiben über das Web mit dem Token in F</translation>
    </message>
    <message>
        <source>store %s closed: %llu commits, %llu checkpoints since the start</source>
        <translation>Speicher %s geschlossen: %llu Commits, %llu Checkpoints seit dem Start</translation>
    </message>
    <message>
        <source>cannot serve the web page on %s:%d: %s</source>
        <translation>kann die Webseite nicht auf %s:%d anbieten: %s</translation>
    </message>
    <message>
        <source>web page on %s://%s:%d/, writes %s</source>
        <translation>Webseite auf %s://%s:%d/, Schreiben %s</translation>
    </message>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
    <message>
        <source>on (token file)</source>
        <translation>an (Token-Datei)</translation>
    </message>
    <message>
        <source>web write from %s: %s: %s</source>
        <translation>Schreiben über das Web von %s: %s: %s</translation>
    </message>
    <message>
        <source>%1 needs a whole number N &gt; 0</source>
        <translation>%1 braucht eine ganze Zahl N &gt; 0</translation>
    </message>
    <message>
        <source>--rotate-hours and --rotate-mb exclude each other</source>
        <translation>--rotate-hours und --rotate-mb schließen einander aus</translation>
    </message>
    <message>
        <source>--keep-mb needs --rotate-hours or --rotate-mb</source>
        <translation>--keep-mb braucht --rotate-hours oder --rotate-mb</translation>
    </message>
    <message>
        <source>--rotate-hours, --rotate-mb, --keep-mb and --video-every are options of run</source>
        <translation>--rotate-hours, --rotate-mb, --keep-mb und --video-every sind Optionen von run</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Aufzeichnung</translation>
    </message>
    <message>
        <source>One file</source>
        <translation>Eine Datei</translation>
    </message>
    <message>
        <source>A new file every N hours</source>
        <translation>Alle N Stunden eine neue Datei</translation>
    </message>
    <message>
        <source>A new file every N MB</source>
        <translation>Alle N MB eine neue Datei</translation>
    </message>
    <message>
        <source>Remove the oldest files beyond</source>
        <translation>Die ältesten Dateien löschen über</translation>
    </message>
    <message>
        <source>Record every Nth video line, N =</source>
        <translation>Jede N-te Videozeile aufzeichnen, N =</translation>
    </message>
    <message>
        <source> h</source>
        <translation> h</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufzeichnen</translation>
    </message>
    <message>
        <source>Show the recording FILE (or a folder of recordings) in a window of its own.</source>
        <translation>Die Aufzeichnung DATEI (oder einen Ordner von Aufzeichnungen) in einem eigenen Fenster zeigen.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message>
        <source>%1: not a recording (no recording&apos;s header), %2 lines left out</source>
        <translation>%1: keine Aufzeichnung (ohne Kopfzeile einer Aufzeichnung), %2 Zeilen ausgelassen</translation>
    </message>
    <message>
        <source>%1: the file is empty</source>
        <translation>%1: die Datei ist leer</translation>
    </message>
    <message>
        <source>%1 rows skipped: the last line is cut off (%2, line %3)</source>
        <translation>%1 Zeilen übersprungen: die letzte Zeile ist abgeschnitten (%2, Zeile %3)</translation>
    </message>
    <message>
        <source>%1 rows skipped: a field is missing, extra or not a number (first: %2, line %3)</source>
        <translation>%1 Zeilen übersprungen: ein Feld fehlt, ist überzählig oder keine Zahl (zuerst: %2, Zeile %3)</translation>
    </message>
    <message>
        <source>%1 rows skipped: earlier than the row before them (first: %2, line %3)</source>
        <translation>%1 Zeilen übersprungen: früher als die Zeile davor (zuerst: %2, Zeile %3)</translation>
    </message>
    <message>
        <source>%1: cannot be read</source>
        <translation>%1: kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>Recorded without the set-point: no tolerance window to rate</source>
        <translation>Ohne Sollwert aufgezeichnet: kein Toleranzfenster zum Bewerten</translation>
    </message>
    <message>
        <source>Recording %1</source>
        <translation>Aufzeichnung %1</translation>
    </message>
    <message>
        <source>%1: value %2, edges %3 and %4, %5</source>
        <translation>%1: Messwert %2, Kanten %3 und %4, %5</translation>
    </message>
    <message>
        <source>in tolerance</source>
        <translation>in Toleranz</translation>
    </message>
    <message>
        <source>out of tolerance</source>
        <translation>außer Toleranz</translation>
    </message>
    <message>
        <source>%1 to %2 (UTC), %3 rows</source>
        <translation>%1 bis %2 (UTC), %3 Zeilen</translation>
    </message>
    <message>
        <source>No rows in this span</source>
        <translation>Keine Zeilen in diesem Abschnitt</translation>
    </message>
    <message>
        <source>Video line of %1 (UTC), threshold %2</source>
        <translation>Videozeile von %1 (UTC), Schwelle %2</translation>
    </message>
    <message>
        <source>Span</source>
        <translation>Abschnitt</translation>
    </message>
    <message>
        <source>Skipped rows</source>
        <translation>Übersprungene Zeilen</translation>
    </message>
    <message>
        <source>From the recording: the set-point and tolerance of the span&apos;s last row; the other parameter words are not recorded.</source>
        <translation>Aus der Aufzeichnung: Sollwert und Toleranz der letzten Zeile des Abschnitts; die übrigen Parameterwörter werden nicht aufgezeichnet.</translation>
    </message>
    <message>
        <source>not recorded (no set-point column)</source>
        <translation>nicht aufgezeichnet (keine Sollwert-Spalte)</translation>
    </message>
    <message>
        <source>Statistics of the span</source>
        <translation>Statistik des Abschnitts</translation>
    </message>
    <message>
        <source>Strip chart of the span</source>
        <translation>Linienschreiber des Abschnitts</translation>
    </message>
    <message>
        <source>Histogram of the span</source>
        <translation>Histogramm des Abschnitts</translation>
    </message>
    <message>
        <source>Video line nearest the selected time</source>
        <translation>Videozeile am nächsten zum gewählten Zeitpunkt</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>%1 kann nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Cannot show %1</source>
        <translation>%1 kann nicht angezeigt werden</translation>
    </message>
    <message>
        <source>Opened %1: %2 rows</source>
        <translation>%1 geöffnet: %2 Zeilen</translation>
    </message>
    <message>
        <source>Open recording</source>
        <translation>Aufzeichnung öffnen</translation>
    </message>
    <message>
        <source>Strip chart of the recording</source>
        <translation>Linienschreiber der Aufzeichnung</translation>
    </message>
    <message>
        <source>Time (UTC)</source>
        <translation>Zeit (UTC)</translation>
    </message>
    <message>
        <source>Measured value (units)</source>
        <translation>Messwert (Sensoreinheiten)</translation>
    </message>
    <message>
        <source>Value under the pointer</source>
        <translation>Wert unter dem Mauszeiger</translation>
    </message>
    <message>
        <source>Wheel: zoom, drag: pan, right-drag or Shift-drag: select a span, click: pick a time</source>
        <translation>Mausrad: zoomen, Ziehen: verschieben, Ziehen mit rechter Taste oder Umschalt: Abschnitt wählen, Klick: Zeitpunkt wählen</translation>
    </message>
    <message>
        <source>Show &amp;all</source>
        <translation>&amp;Alles zeigen</translation>
    </message>
    <message>
        <source>Zoom out to the whole recording</source>
        <translation>Auf die ganze Aufzeichnung herauszoomen</translation>
    </message>
    <message>
        <source>&amp;Whole recording</source>
        <translation>&amp;Ganze Aufzeichnung</translation>
    </message>
    <message>
        <source>Statistics over the whole recording instead of the selected span</source>
        <translation>Statistik über die ganze Aufzeichnung statt über den gewählten Abschnitt</translation>
    </message>
    <message>
        <source>&amp;Report…</source>
        <translation>&amp;Protokoll…</translation>
    </message>
    <message>
        <source>Commissioning report (PDF) of the selected span</source>
        <translation>Inbetriebnahmeprotokoll (PDF) des gewählten Abschnitts</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>Pegel</translation>
    </message>
    <message>
        <source>the store %1 is in use by another process</source>
        <translation>der Speicher %1 wird von einem anderen Prozess benutzt</translation>
    </message>
    <message>
        <source>Last video line, threshold %1; %2</source>
        <translation>Letzte Videozeile, Videoschwelle %1; %2</translation>
    </message>
    <message>
        <source>lost</source>
        <translation>verloren</translation>
    </message>
    <message>
        <source>%.2f (no object)</source>
        <translation>%.2f (kein Objekt)</translation>
    </message>
    <message>
        <source>expected a duration such as 10m, 30s or 1s, or 0 for off</source>
        <translation>erwartet eine Dauer wie 10m, 30s oder 1s, oder 0 für aus</translation>
    </message>
    <message>
        <source>expected a ratio from 0 to 10</source>
        <translation>erwartet ein Verhältnis von 0 bis 10</translation>
    </message>
    <message>
        <source>a video line for the signal reserve every D (10m; 0 off)</source>
        <translation>alle D eine Videozeile für die Signalreserve (10m; 0 aus)</translation>
    </message>
    <message>
        <source>health warns below this signal reserve (0.3)</source>
        <translation>health warnt unter dieser Signalreserve (0.3)</translation>
    </message>
    <message>
        <source>reserve line did not come whole (%llu so far); next in %.0f s</source>
        <translation>Reservezeile kam nicht vollständig (bisher %llu); nächste in %.0f s</translation>
    </message>
    <message>
        <source>signal reserve %.2f (%s) below %.2f: clean the lens or check the light</source>
        <translation>Signalreserve %.2f (%s) unter %.2f: Optik reinigen oder Beleuchtung prüfen</translation>
    </message>
    <message>
        <source>signal reserve %.2f back above %.2f</source>
        <translation>Signalreserve %.2f wieder über %.2f</translation>
    </message>
    <message>
        <source>No video line yet</source>
        <translation>Noch keine Videozeile</translation>
    </message>
    <message>
        <source>Signal reserve %s, contrast %s%s</source>
        <translation>Signalreserve %s, Kontrast %s%s</translation>
    </message>
    <message>
        <source>, saturated</source>
        <translation>, übersteuert</translation>
    </message>
    <message>
        <source>expected a Sparkplug id: not empty, without / + # or control characters</source>
        <translation>erwartet eine Sparkplug-ID: nicht leer, ohne / + # und Steuerzeichen</translation>
    </message>
    <message>
        <source>MQTT client id (kvex-rtn-&lt;host&gt;-&lt;port name&gt;)</source>
        <translation>MQTT-Client-ID (kvex-rtn-&lt;Host&gt;-&lt;Portname&gt;)</translation>
    </message>
    <message>
        <source>Sparkplug B edge node in GROUP beside the JSON topics</source>
        <translation>Sparkplug-B-Edge-Node in GROUP neben den JSON-Topics</translation>
    </message>
    <message>
        <source>its edge node id (&lt;host&gt;-&lt;port name&gt;)</source>
        <translation>seine Edge-Node-ID (&lt;Host&gt;-&lt;Portname&gt;)</translation>
    </message>
    <message>
        <source>the sensor&apos;s device id (sensor)</source>
        <translation>die Device-ID des Sensors (sensor)</translation>
    </message>
    <message>
        <source>publish only while this primary host is online</source>
        <translation>nur senden, solange dieser Primary Host online ist</translation>
    </message>
    <message>
        <source>take DCMD writes, teach and reset (off)</source>
        <translation>DCMD-Schreibbefehle, Einlernen und Zurücksetzen annehmen (aus)</translation>
    </message>
    <message>
        <source>leave the JSON topics out (on)</source>
        <translation>die JSON-Topics weglassen (ein)</translation>
    </message>
    <message>
        <source>Sparkplug B: spBv1.0/%s/+/%s/%s, commands %s%s%s, bdSeq in %s</source>
        <translation>Sparkplug B: spBv1.0/%s/+/%s/%s, Befehle %s%s%s, bdSeq in %s</translation>
    </message>
    <message>
        <source>on</source>
        <translation>ein</translation>
    </message>
    <message>
        <source>, primary host </source>
        <translation>, Primary Host </translation>
    </message>
    <message>
        <source>Sparkplug: bdSeq %llu not kept (%s); a restart may repeat it</source>
        <translation>Sparkplug: bdSeq %llu nicht gespeichert (%s); ein Neustart kann sie wiederholen</translation>
    </message>
    <message>
        <source>Sparkplug: waiting for primary host %s to be online</source>
        <translation>Sparkplug: warte, bis Primary Host %s online ist</translation>
    </message>
    <message>
        <source>Sparkplug: births sent with bdSeq %llu</source>
        <translation>Sparkplug: Birth-Nachrichten mit bdSeq %llu gesendet</translation>
    </message>
    <message>
        <source>Sparkplug: rebirth asked for</source>
        <translation>Sparkplug: Rebirth angefordert</translation>
    </message>
    <message>
        <source>Sparkplug: primary host %s online</source>
        <translation>Sparkplug: Primary Host %s online</translation>
    </message>
    <message>
        <source>Sparkplug: primary host %s offline; publishing paused</source>
        <translation>Sparkplug: Primary Host %s offline; Senden pausiert</translation>
    </message>
    <message>
        <source>Sparkplug write from %s: %s: %s</source>
        <translation>Sparkplug-Schreibzugriff von %s: %s: %s</translation>
    </message>
    <message>
        <source>serve: --sparkplug publishes over the MQTT broker; give --mqtt too</source>
        <translation>serve: --sparkplug sendet über den MQTT-Broker; bitte auch --mqtt angeben</translation>
    </message>
    <message>
        <source>expected %1 to %2 (got &quot;%3&quot;)</source>
        <translation>erwartet %1 bis %2 (erhalten: „%3“)</translation>
    </message>
    <message>
        <source>TLS for the web page (SIGHUP reads them again)</source>
        <translation>TLS für die Web-Seite (SIGHUP liest sie neu)</translation>
    </message>
    <message>
        <source>web clients held at once (10000)</source>
        <translation>Web-Clients gleichzeitig (10000)</translation>
    </message>
    <message>
        <source>web clients from one address (1000)</source>
        <translation>Web-Clients von einer Adresse (1000)</translation>
    </message>
    <message>
        <source>seconds a request may take to come (10)</source>
        <translation>Sekunden, bis eine Anfrage vollständig sein muss (10)</translation>
    </message>
    <message>
        <source>seconds an idle connection is kept (5)</source>
        <translation>Sekunden, die eine ruhende Verbindung offen bleibt (5)</translation>
    </message>
    <message>
        <source>a silent live page is pinged, then closed (60)</source>
        <translation>eine stumme Live-Seite wird angepingt, dann geschlossen (60)</translation>
    </message>
    <message>
        <source>messages waiting for a slow page (256)</source>
        <translation>Nachrichten, die auf eine langsame Seite warten (256)</translation>
    </message>
    <message>
        <source>request line and headers (16384)</source>
        <translation>Anfragezeile und Kopfzeilen (16384)</translation>
    </message>
    <message>
        <source>request body (65536)</source>
        <translation>Anfragerumpf (65536)</translation>
    </message>
    <message>
        <source>the cap of %1 connections</source>
        <translation>die Grenze von %1 Verbindungen</translation>
    </message>
    <message>
        <source>the cap of %1 per address</source>
        <translation>die Grenze von %1 je Adresse</translation>
    </message>
    <message>
        <source>no descriptor left</source>
        <translation>kein Deskriptor mehr frei</translation>
    </message>
    <message>
        <source>web server: refused %1 new connection(s) (%2); the next such line comes a minute later at the earliest</source>
        <translation>Web-Server: %1 neue Verbindung(en) abgewiesen (%2); die nächste solche Zeile kommt frühestens eine Minute später</translation>
    </message>
    <message>
        <source>web server: certificate %1 read again</source>
        <translation>Web-Server: Zertifikat %1 neu gelesen</translation>
    </message>
    <message>
        <source>web server: kept the certificate in use, the new one is not usable: %1</source>
        <translation>Web-Server: das bisherige Zertifikat bleibt, das neue ist nicht brauchbar: %1</translation>
    </message>
    <message>
        <source>web server: %1 descriptors allowed (LimitNOFILE): the cap of %2 connections is lowered to %3</source>
        <translation>Web-Server: %1 Deskriptoren erlaubt (LimitNOFILE): die Grenze von %2 Verbindungen sinkt auf %3</translation>
    </message>
    <message>
        <source>web server: holds up to %1 connections, %2 from one address (%3 descriptors allowed)</source>
        <translation>Web-Server: hält bis zu %1 Verbindungen, %2 von einer Adresse (%3 Deskriptoren erlaubt)</translation>
    </message>
    <message>
        <source>%zu samples lost at the stop: the store %s could not be written (%s)</source>
        <translation>%zu Messwerte beim Beenden verloren: der Speicher %s ließ sich nicht schreiben (%s)</translation>
    </message>
    <message>
        <source>its last commit failed</source>
        <translation>sein letzter Commit schlug fehl</translation>
    </message>
    <message>
        <source>%zu samples lost at the stop: not published, and no --store to keep them</source>
        <translation>%zu Messwerte beim Beenden verloren: nicht veröffentlicht, und kein --store, der sie aufhebt</translation>
    </message>
    <message>
        <source>stopped; %u samples taken, %llu dropped, %llu lost at the stop</source>
        <translation>beendet; %u Messwerte erfasst, %llu verworfen, %llu beim Beenden verloren</translation>
    </message>
    <message>
        <source>store %s: new epoch %lld kept in memory until the file can be written; %zu samples kept from before, next seq %u</source>
        <translation>Speicher %s: neue Epoche %lld im Arbeitsspeicher, bis die Datei geschrieben werden kann; %zu Messwerte von früher aufgehoben, nächste seq %u</translation>
    </message>
    <message>
        <source>store %s was not closed cleanly: new epoch %lld; %zu samples kept from epoch %lld, next seq %u</source>
        <translation>Speicher %s wurde nicht sauber geschlossen: neue Epoche %lld; %zu Messwerte aus Epoche %lld aufgehoben, nächste seq %u</translation>
    </message>
    <message>
        <source>store %s: the last commit failed (%s)</source>
        <translation>Speicher %s: der letzte Commit schlug fehl (%s)</translation>
    </message>
    <message>
        <source>Modbus TCP: %llu new connections closed, over %d from one address</source>
        <translation>Modbus TCP: %llu neue Verbindungen geschlossen, mehr als %d von einer Adresse</translation>
    </message>
    <message>
        <source>Modbus TCP: %llu new connections closed, over %d in all</source>
        <translation>Modbus TCP: %llu neue Verbindungen geschlossen, mehr als %d insgesamt</translation>
    </message>
    <message>
        <source>Modbus TCP: %llu connections closed after %.0f s without a request</source>
        <translation>Modbus TCP: %llu Verbindungen nach %.0f s ohne Anfrage geschlossen</translation>
    </message>
    <message>
        <source>expected a number from 1 to 10000</source>
        <translation>erwartet eine Zahl von 1 bis 10000</translation>
    </message>
    <message>
        <source>expected a duration such as 60s or 5m, or 0 for none</source>
        <translation>erwartet eine Dauer wie 60s oder 5m, oder 0 für keine</translation>
    </message>
    <message>
        <source>expected host names separated by commas</source>
        <translation>erwartet durch Kommas getrennte Hostnamen</translation>
    </message>
    <message>
        <source>Modbus connections held from one address (8) and in all (64)</source>
        <translation>Modbus-Verbindungen, die von einer Adresse (8) und insgesamt (64) gehalten werden</translation>
    </message>
    <message>
        <source>Modbus connections without a request for this long are closed (60s; 0: never)</source>
        <translation>Modbus-Verbindungen ohne Anfrage so lange werden geschlossen (60s; 0: nie)</translation>
    </message>
    <message>
        <source>host names the page is reached by besides its addresses, localhost and this machine&apos;s name (comma-separated)</source>
        <translation>Hostnamen, unter denen die Seite außer ihren Adressen, localhost und dem Namen dieses Rechners erreicht wird (durch Kommas getrennt)</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <source>group or others may read it (mode %1); chmod 600 it</source>
        <translation>Gruppe oder andere dürfen sie lesen (Modus %1); chmod 600 darauf anwenden</translation>
    </message>
    <message>
        <source>--%1 %2: %3</source>
        <translation>--%1 %2: %3</translation>
    </message>
    <message>
        <source>--%1 needs --%2 too: a certificate and its key go together</source>
        <translation>--%1 braucht auch --%2: ein Zertifikat und sein Schlüssel gehören zusammen</translation>
    </message>
    <message>
        <source>no secret in its first line</source>
        <translation>kein Geheimnis in ihrer ersten Zeile</translation>
    </message>
    <message>
        <source>--cert and --key need --cafile too: the broker&apos;s certificate is checked against it</source>
        <translation>--cert und --key brauchen auch --cafile: das Zertifikat des Brokers wird damit geprüft</translation>
    </message>
    <message>
        <source>serve: --http-token-file %s: the token is too short to stand guessing (%.0f bits of the %.0f needed); make one with %s</source>
        <translation>serve: --http-token-file %s: das Token ist zu kurz, um Raten standzuhalten (%.0f Bit von %.0f nötigen); eines erzeugen mit %s</translation>
    </message>
    <message>
        <source>the line reaches the top of the scale: lower power</source>
        <translation>die Zeile erreicht das Skalenende: power senken</translation>
    </message>
    <message>
        <source>too little contrast between lit and shadow: raise power or clean the optics</source>
        <translation>zu wenig Kontrast zwischen hell und Schatten: power erhöhen oder die Optik reinigen</translation>
    </message>
    <message>
        <source>no edge in the line: put the object in the beam</source>
        <translation>keine Kante in der Zeile: das Objekt in den Strahl bringen</translation>
    </message>
    <message>
        <source>more than two edges in the line: one object at a time</source>
        <translation>mehr als zwei Kanten in der Zeile: nur ein Objekt auf einmal</translation>
    </message>
    <message>
        <source>propose: --apply takes ram or eeprom</source>
        <translation>propose: --apply nimmt ram oder eeprom</translation>
    </message>
    <message>
        <source>no parameter set from RAM: %1</source>
        <translation>kein Parametersatz aus dem RAM: %1</translation>
    </message>
    <message>
        <source>no video line: %1</source>
        <translation>keine Videozeile: %1</translation>
    </message>
    <message>
        <source>cannot write the proposal to RAM: %1</source>
        <translation>der Vorschlag lässt sich nicht ins RAM schreiben: %1</translation>
    </message>
    <message>
        <source>the check failed (%1 of %2 cycles with both edges, signal reserve %3): %4</source>
        <translation>die Prüfung schlug fehl (%1 von %2 Zyklen mit beiden Kanten, Signalreserve %3): %4</translation>
    </message>
    <message>
        <source>RAM written back as it was</source>
        <translation>RAM wie vorher zurückgeschrieben</translation>
    </message>
    <message>
        <source>RAM could NOT be written back</source>
        <translation>RAM konnte NICHT zurückgeschrieben werden</translation>
    </message>
    <message>
        <source>checked in RAM, but the EEPROM did not take it: %1</source>
        <translation>im RAM geprüft, aber das EEPROM hat ihn nicht übernommen: %1</translation>
    </message>
    <message>
        <source>RAM written back as it was.</source>
        <translation>RAM wie vorher zurückgeschrieben.</translation>
    </message>
    <message>
        <source>RAM could NOT be written back (%1): check the parameter set with GET before you go on.</source>
        <translation>RAM konnte NICHT zurückgeschrieben werden (%1): den Parametersatz mit GET prüfen, bevor Sie weitermachen.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Writing the proposal to RAM and measuring for about %1 s…</source>
        <translation>Vorschlag wird ins RAM geschrieben und etwa %1 s lang gemessen…</translation>
    </message>
    <message>
        <source>No parameter set from RAM (%1): nothing was written.</source>
        <translation>Kein Parametersatz aus dem RAM (%1): nichts wurde geschrieben.</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Verwerfen</translation>
    </message>
    <message>
        <source>The sensor did not take the proposal.</source>
        <translation>Der Sensor hat den Vorschlag nicht übernommen.</translation>
    </message>
    <message>
        <source>Check failed: both edges in %1 of %2 cycles, signal reserve %3.</source>
        <translation>Prüfung fehlgeschlagen: beide Kanten in %1 von %2 Zyklen, Signalreserve %3.</translation>
    </message>
    <message>
        <source>Checked: both edges in all %1 cycles, spread %2 and %3, signal reserve %4. In RAM now: store it, or Discard.</source>
        <translation>Geprüft: beide Kanten in allen %1 Zyklen, Streuung %2 und %3, Signalreserve %4. Jetzt im RAM: speichern oder Verwerfen.</translation>
    </message>
    <message>
        <source>Not stored: the proposal stays in RAM until the sensor is switched off, or Discard.</source>
        <translation>Nicht gespeichert: der Vorschlag bleibt im RAM, bis der Sensor ausgeschaltet wird oder bis Verwerfen.</translation>
    </message>
    <message>
        <source>The EEPROM did not take the proposal (%1); it stays in RAM.</source>
        <translation>Das EEPROM hat den Vorschlag nicht übernommen (%1); er bleibt im RAM.</translation>
    </message>
    <message>
        <source>Stored in the EEPROM: the sensor keeps the proposal.</source>
        <translation>Im EEPROM gespeichert: der Sensor behält den Vorschlag.</translation>
    </message>
    <message>
        <source>No proposal: %1.</source>
        <translation>Kein Vorschlag: %1.</translation>
    </message>
    <message>
        <source>Proposed (dashed): threshold %1 (now %2), window %3-%4 (now %5-%6).</source>
        <translation>Vorschlag (gestrichelt): Schwelle %1 (jetzt %2), Fenster %3-%4 (jetzt %5-%6).</translation>
    </message>
    <message>
        <source>Margins %1 (lit) and %2 (shadow), signal reserve %3, contrast %4.</source>
        <translation>Abstände %1 (hell) und %2 (Schatten), Signalreserve %3, Kontrast %4.</translation>
    </message>
    <message>
        <source>Proposal discarded.</source>
        <translation>Vorschlag verworfen.</translation>
    </message>
    <message>
        <source>The sensor&apos;s RAM no longer holds the proposal: nothing was written back.</source>
        <translation>Das RAM des Sensors enthält den Vorschlag nicht mehr: nichts wurde zurückgeschrieben.</translation>
    </message>
    <message>
        <source>%1 (word %2): approved %3, EEPROM %4, RAM %5</source>
        <translation>%1 (Wort %2): freigegeben %3, EEPROM %4, RAM %5</translation>
    </message>
    <message>
        <source>%1 (word %2): EEPROM %3, RAM %4</source>
        <translation>%1 (Wort %2): EEPROM %3, RAM %4</translation>
    </message>
    <message>
        <source>diff takes no file but the one after --golden</source>
        <translation>diff nimmt keine Datei außer der nach --golden</translation>
    </message>
    <message>
        <source>%1 is no approved parameter set</source>
        <translation>%1 ist kein freigegebener Parametersatz</translation>
    </message>
    <message>
        <source>%1 does not fit this sensor</source>
        <translation>%1 passt nicht zu diesem Sensor</translation>
    </message>
    <message>
        <source>no parameter frame: %1</source>
        <translation>kein Parameterrahmen: %1</translation>
    </message>
    <message>
        <source>RAM, EEPROM and the approved set agree</source>
        <translation>RAM, EEPROM und freigegebener Satz stimmen überein</translation>
    </message>
    <message>
        <source>RAM and EEPROM agree</source>
        <translation>RAM und EEPROM stimmen überein</translation>
    </message>
    <message>
        <source>drift check every %.0f s: RAM against EEPROM (no --golden)</source>
        <translation>Abweichungsprüfung alle %.0f s: RAM gegen EEPROM (kein --golden)</translation>
    </message>
    <message>
        <source>drift check every %.0f s: RAM, EEPROM and the approved set %s</source>
        <translation>Abweichungsprüfung alle %.0f s: RAM, EEPROM und der freigegebene Satz %s</translation>
    </message>
    <message>
        <source>drift check: the parameter sets did not come whole (%llu so far); next in %.0f s</source>
        <translation>Abweichungsprüfung: die Parametersätze kamen nicht vollständig (bisher %llu); nächste in %.0f s</translation>
    </message>
    <message>
        <source>parameter drift: %s%s</source>
        <translation>Parameterabweichung: %s%s</translation>
    </message>
    <message>
        <source>parameter drift ended: RAM, EEPROM and the approved set agree</source>
        <translation>Parameterabweichung beendet: RAM, EEPROM und freigegebener Satz stimmen überein</translation>
    </message>
    <message>
        <source>parameter drift ended: RAM and EEPROM agree</source>
        <translation>Parameterabweichung beendet: RAM und EEPROM stimmen überein</translation>
    </message>
    <message>
        <source>SIGHUP: approved parameter set read again from %s</source>
        <translation>SIGHUP: freigegebener Parametersatz neu gelesen aus %s</translation>
    </message>
    <message>
        <source>SIGHUP: %s; the approved set stays as it was</source>
        <translation>SIGHUP: %s; der freigegebene Satz bleibt, wie er war</translation>
    </message>
    <message>
        <source>SIGHUP: nothing to reload (no --http-cert, no --golden); the gateway goes on</source>
        <translation>SIGHUP: nichts neu zu lesen (kein --http-cert, kein --golden); das Gateway läuft weiter</translation>
    </message>
    <message>
        <source>expected a parameter file</source>
        <translation>Parameterdatei erwartet</translation>
    </message>
    <message>
        <source>expected a duration such as 1h or 10m (at least 1m), or 0 for off</source>
        <translation>Dauer wie 1h oder 10m erwartet (mindestens 1m), oder 0 für aus</translation>
    </message>
    <message>
        <source>the approved parameter set the sensor is compared with</source>
        <translation>der freigegebene Parametersatz, mit dem der Sensor verglichen wird</translation>
    </message>
    <message>
        <source>read RAM and EEPROM and compare them every D (1h; 0 off; at least 1m)</source>
        <translation>RAM und EEPROM alle D lesen und vergleichen (1h; 0 aus; mindestens 1m)</translation>
    </message>
    <message>
        <source>serve: --golden %s is no approved parameter set</source>
        <translation>serve: --golden %s ist kein freigegebener Parametersatz</translation>
    </message>
    <message>
        <source>cannot serve OPC UA on %s:%d: %s%s</source>
        <translation>OPC UA auf %s:%d nicht möglich: %s%s</translation>
    </message>
    <message>
        <source>OPC UA on %s, security policies %s</source>
        <translation>OPC UA auf %s, Sicherheitsrichtlinien %s</translation>
    </message>
    <message>
        <source>OPC UA: made the server&apos;s certificate, kept in %s</source>
        <translation>OPC UA: Zertifikat des Servers erzeugt, abgelegt in %s</translation>
    </message>
    <message>
        <source>OPC UA write from %s: %s: %s</source>
        <translation>OPC-UA-Schreiben von %s: %s: %s</translation>
    </message>
    <message>
        <source>expected a name without / or control characters</source>
        <translation>Name ohne / und Steuerzeichen erwartet</translation>
    </message>
    <message>
        <source>expected a file or folder</source>
        <translation>Datei oder Ordner erwartet</translation>
    </message>
    <message>
        <source>OPC UA server (address 127.0.0.1)</source>
        <translation>OPC-UA-Server (Adresse 127.0.0.1)</translation>
    </message>
    <message>
        <source>the sensor&apos;s name under DeviceSet (sensor)</source>
        <translation>Name des Sensors unter DeviceSet (sensor)</translation>
    </message>
    <message>
        <source>the OPC UA server&apos;s certificate (made and kept at the first start)</source>
        <translation>Zertifikat des OPC-UA-Servers (beim ersten Start erzeugt und aufbewahrt)</translation>
    </message>
    <message>
        <source>trust only the client certificates in DIR (any)</source>
        <translation>nur den Client-Zertifikaten in DIR vertrauen (allen)</translation>
    </message>
    <message>
        <source>OPC UA users, NAME:read|write:HASH a line (openssl passwd -6)</source>
        <translation>OPC-UA-Benutzer, NAME:read|write:HASH je Zeile (openssl passwd -6)</translation>
    </message>
    <message>
        <source>no reading without a user (on)</source>
        <translation>kein Lesen ohne Benutzer (on)</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>nicht lesbar</translation>
    </message>
    <message>
        <source>serve: nothing to serve; give --mqtt HOST, --modbus PORT, --http PORT and/or --opcua PORT</source>
        <translation>serve: nichts zu bedienen; --mqtt HOST, --modbus PORT, --http PORT und/oder --opcua PORT angeben</translation>
    </message>
    <message>
        <source>serve: --opcua-anonymous off needs --opcua-users: otherwise no client could log in</source>
        <translation>serve: --opcua-anonymous off braucht --opcua-users: sonst könnte sich kein Client anmelden</translation>
    </message>
</context>
</TS>
