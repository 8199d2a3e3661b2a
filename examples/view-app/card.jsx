// One contact in the list, used as <vx:ContactCard contact=c .../>. Its attributes
// arrive evaluated, bindings included.
import {Row, Label, icon, Star} from './widgets.js';

export class ContactCard {
  static render(attrs) {
    const c = attrs.contact;
    return (
      <Row key=c.id selected=attrs.selected>
        ${c.favorite ? <icon:Star size=12/> : null}
        <Label bold=attrs.selected>${c.name}</Label>
        <Label muted=!c.phone>${c.phone || 'no phone'}</Label>
      </Row>
    );
  }
}
